% examples/stream_view.m headless in Octave: packets 0-11 from the stream filler (timestamp
% 1000 c + 7), frames of 4000 timestamp units, so frames 0 and 1 (packets 0-3 and 4-7, three
% point packets each) are whole once packet 8 is there. The last frame is saved as a PNG.
1;

addpath(getenv('KESTO_MEX_DIR'));
addpath(fileparts(mfilename('fullpath')));  % test_check, stream_fill
warning('off', 'Octave:gnuplot-graphics');
graphics_toolkit('gnuplot');  % renders without a display
set(0, 'DefaultFigureVisible', 'off');

stream_fill('unlink');
evalc('first_points = lidarstream;');  % this reader comes before the bridge: it gets every packet
stream_fill('write', '12');

stream_view_png = fullfile(pwd, 'stream_view.png');
if exist(stream_view_png, 'file'), delete(stream_view_png); end
stream_view_frames = 2;
stream_view_polls = 20;
stream_view_period = 0;
stream_view_frame_length = 4000;
run(fullfile(getenv('KESTO_EXAMPLES_DIR'), 'stream_view.m'));

test_check(frames_shown == 2, sprintf('two whole frames shown, not %d', frames_shown));
test_check(size(frame_points, 1) == 3 * 96, 'the second frame holds three point packets');
test_check(isequal(unique(frame_points(:, 6))', 1000 * [5 6 7] + 7), 'packets 5-7 in frame 1');
test_check(lost == 0 && restarts == 0, 'nothing lost');
png = dir(stream_view_png);
test_check(numel(png) == 1 && png.bytes > 0, 'the PNG exists and is not empty');
close all;
evalc('clear lidarstream');
stream_fill('unlink');
disp('stream_view_octave_test: all checks passed');
