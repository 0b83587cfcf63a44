% live_view  Live view of the lidar data that lidartap5 reads from the shared block.
%
% Polls lidartap5 in a loop and shows the newest point records as a 3-D scatter plot, coloured
% by their first attribute, with the newest IMU values beside it. Runs unchanged in MATLAB and
% GNU Octave. Start the bridge (cloudpump) to see live data; without it the block reads as
% zeros.
%
% Settings, each read only when defined before the script runs:
%   live_view_frames  number of frames to show (default: until the figure is closed)
%   live_view_period  seconds to wait between two polls (default 0.05)
%   live_view_png     file name: the last frame is saved there as a PNG (default: none)
%
% Example:
%   addpath('folder with lidartap5'); live_view_frames = 200; live_view

if ~exist('live_view_frames', 'var'), live_view_frames = Inf; end
if ~exist('live_view_period', 'var'), live_view_period = 0.05; end
if ~exist('live_view_png', 'var'), live_view_png = ''; end

% The block holds either an IMU packet or a point packet, whichever came last: keep the newest
% of each kind and show both.
points = zeros(5, 96);
point_type = 0;
imu = zeros(1, 6);

fig = figure('Name', 'lidartap5 live view', 'NumberTitle', 'off');
cloud_axes = subplot(1, 2, 1);
cloud = scatter3(cloud_axes, points(1, :), points(2, :), points(3, :), 12, points(4, :), 'filled');
xlabel(cloud_axes, 'value 1');
ylabel(cloud_axes, 'value 2');
zlabel(cloud_axes, 'value 3');
grid(cloud_axes, 'on');
imu_axes = subplot(1, 2, 2);
imu_bars = bar(imu_axes, 1:6, imu);
set(imu_axes, 'XTick', 1:6, 'XTickLabel', {'1', '2', '3', '4', '5', '6'});
xlabel(imu_axes, 'IMU value');

frame = 0;
while frame < live_view_frames && ishandle(fig)
  data = lidartap5;
  data_type = data(1, 1);
  if data_type == 0
    imu = [data(3:5, 1); data(1:3, 2)]';
  elseif data_type <= 3
    points = data(:, 3:98);
    point_type = data_type;
  end
  frame = frame + 1;

  set(cloud, 'XData', points(1, :), 'YData', points(2, :), 'ZData', points(3, :), ...
             'CData', points(4, :)');  % a column: Octave's gnuplot toolkit wants one
  title(cloud_axes, sprintf('points (data type %d), time %.0f', point_type, data(2, 1)));
  set(imu_bars, 'YData', imu);
  title(imu_axes, sprintf('IMU, time %.0f', data(4, 2)));
  drawnow;
  if frame < live_view_frames
    pause(live_view_period);
  end
end

if ~isempty(live_view_png) && ishandle(fig)
  print(fig, '-dpng', live_view_png);
end
