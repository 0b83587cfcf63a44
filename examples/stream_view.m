% stream_view  Live view of whole frames of lidar points from the stream block, with lidarstream.
%
% Calls lidarstream in a loop and gathers every point the bridge (cloudpump) received. A frame
% is every point whose packet timestamp falls in one window of stream_view_frame_length
% timestamp units; a frame is shown once a later packet shows it is complete, as a 3-D scatter
% plot coloured by the first attribute. The title counts the packets lost so far (the loop
% fell more than a ring behind) and the bridge restarts seen. Runs unchanged in MATLAB and GNU
% Octave.
%
% Settings, each read only when defined before the script runs:
%   stream_view_frames        number of whole frames to show (default: until the figure is closed)
%   stream_view_polls         largest number of lidarstream calls (default: no limit)
%   stream_view_period        seconds to wait between two calls (default 0.02)
%   stream_view_frame_length  frame length in timestamp units (default 1e8: 0.1 s of
%                             nanoseconds, one revolution at 10 Hz)
%   stream_view_png           file name: the last frame is saved there as a PNG (default: none)
%
% Example:
%   addpath('folder with lidarstream'); stream_view_frames = 50; stream_view

if ~exist('stream_view_frames', 'var'), stream_view_frames = Inf; end
if ~exist('stream_view_polls', 'var'), stream_view_polls = Inf; end
if ~exist('stream_view_period', 'var'), stream_view_period = 0.02; end
if ~exist('stream_view_frame_length', 'var'), stream_view_frame_length = 1e8; end
if ~exist('stream_view_png', 'var'), stream_view_png = ''; end

fig = figure('Name', 'lidarstream frames', 'NumberTitle', 'off');
cloud_axes = axes('Parent', fig);
cloud = scatter3(cloud_axes, 0, 0, 0, 4, 0, 'filled');
xlabel(cloud_axes, 'value 1');
ylabel(cloud_axes, 'value 2');
zlabel(cloud_axes, 'value 3');
grid(cloud_axes, 'on');

pending = zeros(0, 8);  % points of frames not yet complete
frame_points = zeros(0, 8);
frames_shown = 0;
polls = 0;
lost = 0;
restarts = 0;
while frames_shown < stream_view_frames && polls < stream_view_polls && ishandle(fig)
  [points, imu, counts] = lidarstream;
  polls = polls + 1;
  lost = lost + counts.lost;
  restarts = restarts + counts.restarts;
  pending = [pending; points];
  if ~isempty(pending)
    frame_of = floor(pending(:, 6) / stream_view_frame_length);
    newest = max(frame_of);
    complete = unique(frame_of(frame_of < newest))';
    for f = complete
      if frames_shown >= stream_view_frames, break; end
      frame_points = pending(frame_of == f, :);
      frames_shown = frames_shown + 1;
      set(cloud, 'XData', frame_points(:, 1), 'YData', frame_points(:, 2), ...
                 'ZData', frame_points(:, 3), 'CData', frame_points(:, 4));
      title(cloud_axes, sprintf('frame %d: %d points; packets lost %d, restarts %d', ...
                                frames_shown, size(frame_points, 1), lost, restarts));
      drawnow;
    end
    pending = pending(frame_of == newest, :);
  end
  if frames_shown < stream_view_frames
    pause(stream_view_period);
  end
end

if ~isempty(stream_view_png) && ishandle(fig)
  print(fig, '-dpng', stream_view_png);
end
