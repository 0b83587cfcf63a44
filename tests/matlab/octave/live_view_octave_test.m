% examples/live_view.m headless in Octave: a bounded number of frames on a block filled by the
% bridge's writer, the last frame saved as a PNG that must exist and not be empty.
1;

function check(condition, what)
  if ~condition
    error('live_view_octave_test: check failed: %s', what);
  end
end

function fill(varargin)
  command = [getenv('KESTO_BLOCK_FILLER') sprintf(' %s', varargin{:})];
  [status, text] = system(command);
  check(status == 0, [command ': ' text]);
end

addpath(getenv('KESTO_MEX_DIR'));
warning('off', 'Octave:gnuplot-graphics');
graphics_toolkit('gnuplot');  % renders without a display
set(0, 'DefaultFigureVisible', 'off');

fill('unlink');
fill('v5-imu');
fill('v5-points', '1');

live_view_png = fullfile(pwd, 'live_view.png');
if exist(live_view_png, 'file'), delete(live_view_png); end
live_view_frames = 3;
live_view_period = 0;
run(fullfile(getenv('KESTO_EXAMPLES_DIR'), 'live_view.m'));

check(frame == 3, sprintf('three frames shown, not %d', frame));
check(isequal(points, data(:, 3:98)) && point_type == 1, 'the newest point records are shown');
png = dir(live_view_png);
check(numel(png) == 1 && png.bytes > 0, 'the PNG exists and is not empty');
close all;
evalc('clear lidartap5');
fill('unlink');
disp('live_view_octave_test: all checks passed');
