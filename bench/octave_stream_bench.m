% Microseconds per lidarstream call that returns a 0.1 s frame of one lidar (208 type-1
% packets, 19,968 point rows), beside Octave's own zeros of the same size, a lidarstream call
% that finds nothing new, and tic/toc alone. Between the calls (not timed) a writer run puts
% exactly one frame into the stream block, so every timed call returns one whole frame.
%   octave-cli --no-gui -q bench/octave_stream_bench.m WRITER MEX_DIR [PACKETS [FRAMES]]
% WRITER is kit_stream_bench, which kit_stream_bench itself passes when it runs this script:
% "WRITER --fill-stream unlink" removes the block "kesto-stream v1", "WRITER --fill-stream N"
% writes N packets into it. The block is the real one: no bridge may run meanwhile.
% Prints "result NAME VALUE" lines for the caller.
1;

function fill(writer, what)
  status = system(sprintf('"%s" --fill-stream %s', writer, what));
  if status ~= 0
    error('octave_stream_bench: the writer failed (%s)', what);
  end
end

args = argv();
if numel(args) < 2
  error('usage: octave_stream_bench.m WRITER MEX_DIR [PACKETS [FRAMES]]');
end
writer = args{1};
addpath(args{2});
packets = 208;
frames = 100;
if numel(args) >= 3, packets = str2double(args{3}); end
if numel(args) >= 4, frames = str2double(args{4}); end
rows = packets * 96;

fill(writer, 'unlink');
evalc('[points, imu, counts] = lidarstream;');  % maps the block; the banner outside the timing

frame_us = zeros(frames, 1);
nothing_us = zeros(frames, 1);
zeros_us = zeros(frames, 1);
tictoc_us = zeros(frames, 1);
wrong = 0;
lost = 0;
for k = 1:frames
  fill(writer, num2str(packets));
  t = tic; [points, imu, counts] = lidarstream; frame_us(k) = toc(t) * 1e6;
  if counts.returned ~= packets || ~isequal(size(points), [rows 8]) || ~isempty(imu)
    wrong = wrong + 1;
  end
  lost = lost + counts.lost;
  t = tic; [points, imu, counts] = lidarstream; nothing_us(k) = toc(t) * 1e6;
  t = tic; z = zeros(rows, 8); zeros_us(k) = toc(t) * 1e6;
  t = tic; tictoc_us(k) = toc(t) * 1e6;
end
clear z points imu
evalc('clear lidarstream');
fill(writer, 'unlink');

printf('%d calls of a %d-packet frame (%d x 8 doubles), microseconds median / min:\n', frames, packets, rows);
printf('  lidarstream, one frame     %9.1f / %9.1f\n', median(frame_us), min(frame_us));
printf('  zeros(%d, 8)            %9.1f / %9.1f\n', rows, median(zeros_us), min(zeros_us));
printf('  lidarstream, nothing new   %9.1f / %9.1f\n', median(nothing_us), min(nothing_us));
printf('  tic/toc alone              %9.1f / %9.1f\n', median(tictoc_us), min(tictoc_us));
printf('  calls with a wrong frame: %d, packets counted lost: %d\n', wrong, lost);
printf('result frame_packets %d\n', packets);
printf('result frame_rows %d\n', rows);
printf('result frame_median_us %.3f\n', median(frame_us));
printf('result frame_min_us %.3f\n', min(frame_us));
printf('result zeros_median_us %.3f\n', median(zeros_us));
printf('result zeros_min_us %.3f\n', min(zeros_us));
printf('result nothing_median_us %.3f\n', median(nothing_us));
printf('result tictoc_median_us %.3f\n', median(tictoc_us));
printf('result wrong_frames %d\n', wrong);
printf('result lost %d\n', lost);
