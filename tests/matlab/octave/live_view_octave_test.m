% examples/live_view.m headless in Octave: a bounded number of frames on a block filled by the
% bridge's writer, the last frame saved as a PNG that must exist and not be empty.
1;

addpath(getenv('KESTO_MEX_DIR'));
addpath(fileparts(mfilename('fullpath')));  % test_check, test_fill
warning('off', 'Octave:gnuplot-graphics');
graphics_toolkit('gnuplot');  % renders without a display
set(0, 'DefaultFigureVisible', 'off');

test_fill('unlink');
test_fill('v5-imu');
test_fill('v5-points', '1');

live_view_png = fullfile(pwd, 'live_view.png');
if exist(live_view_png, 'file'), delete(live_view_png); end
live_view_frames = 3;
live_view_period = 0;
run(fullfile(getenv('KESTO_EXAMPLES_DIR'), 'live_view.m'));

test_check(frame == 3, sprintf('three frames shown, not %d', frame));
test_check(isequal(points, data(:, 3:98)) && point_type == 1, 'the newest point records are shown');
png = dir(live_view_png);
test_check(numel(png) == 1 && png.bytes > 0, 'the PNG exists and is not empty');
close all;
evalc('clear lidartap5');
test_fill('unlink');
disp('live_view_octave_test: all checks passed');
