% lidarread in real Octave: the Octave build of the plug-in on the small recording written by
% KESTO_CAPTURE_FILLER (see tests/matlab/capture_filler.cpp for its packets), into a temporary
% folder: sizes and rows, info, the window and lidar filters, and errors with their identifiers.
% Any failed check ends the script with an error.
1;

function [id, message] = error_of(statement)
  id = '';
  message = '';
  try
    evalin('base', statement);
  catch err
    id = err.identifier;
    message = err.message;
  end
end

% The rows of point packet n: the bytes count from the packet's start, the handle is the
% address in network byte order.
function rows = expected_points(n)
  rows = derived_point_rows(n, 36, 127 + (10 + mod(n, 2)) * 2^24);
end

function rows = points_of(packets)
  rows = zeros(0, 8);
  for n = packets
    rows = [rows; expected_points(n)];
  end
end

addpath(getenv('KESTO_MEX_DIR'));
addpath(fileparts(mfilename('fullpath')));  % test_check, derived_point_rows
folder = tempname();
mkdir(folder);
capture = fullfile(folder, 'drive.pcapng');
[status, text] = system(sprintf('"%s" "%s"', getenv('KESTO_CAPTURE_FILLER'), capture));
test_check(status == 0, ['capture filler: ' text]);

[points, imu, info] = lidarread(capture);
test_check(isequal(size(points), [6 * 96 8]) && isa(points, 'double'), sprintf('points %s', mat2str(size(points))));
test_check(isequal(points, points_of([1 2 3 5 6 7])), 'point rows');
test_check(isequal(size(imu), [2 8]) && isequal(imu(:, 1:2), [7 127 + 10 * 2^24; 4007 127 + 10 * 2^24]), ...
           ['IMU rows ' mat2str(imu(:, 1:2))]);
test_check(strcmp(info.file, capture), 'info.file');
test_check(info.first_time == 1765400000 && abs(info.last_time - 1765400000.09) < 1e-6, ...
           sprintf('times %.9f %.9f', info.first_time, info.last_time));
test_check(info.datagrams == 11 && info.point_packets == 6 && info.imu_packets == 2, 'packet counts');
test_check(isequal(size(info.lidars), [2 1]), 'two lidars');
test_check(strcmp(info.lidars(1).address, '127.0.0.10') && info.lidars(1).dev_type == 9 && ...
           strcmp(info.lidars(1).serial, 'ORB-0001'), 'first lidar');
test_check(strcmp(info.lidars(2).address, '127.0.0.11') && info.lidars(2).dev_type == 0 && ...
           isempty(info.lidars(2).serial), 'second lidar');
test_check(isequal([info.lidars.point_packets], [2 4]) && isequal([info.lidars.imu_packets], [2 0]), ...
           'per-lidar counts');

% Window in seconds after the first datagram; one lidar by its address.
[points, imu] = lidarread(capture, [0.015 0.045]);
test_check(isequal(points, points_of([1 2 3])) && isempty(imu) && size(imu, 2) == 8, 'window');
[points, imu, info] = lidarread(capture, [], '127.0.0.10');
test_check(isequal(points, points_of([2 6])) && size(imu, 1) == 2 && info.point_packets == 2, 'lidar filter');
points = lidarread(capture, [0.035 Inf], '127.0.0.11');
test_check(isequal(points, points_of([3 5 7])), 'window and lidar');

% Errors, each with its identifier and the file named.
[id, message] = error_of(sprintf('lidarread(''%s'')', fullfile(folder, 'missing.pcapng')));
test_check(strcmp(id, 'lidarread:cannotOpen') && ~isempty(strfind(message, 'missing.pcapng')), ...
           ['missing file: ' id ' ' message]);
not_capture = fullfile(folder, 'notes.txt');
f = fopen(not_capture, 'w'); fprintf(f, 'not a capture at all\n'); fclose(f);
[id, message] = error_of(sprintf('lidarread(''%s'')', not_capture));
test_check(strcmp(id, 'lidarread:notCapture') && ~isempty(strfind(message, 'notes.txt')), ...
           ['not a capture: ' id ' ' message]);
f = fopen(capture, 'r'); bytes = fread(f, Inf, 'uint8=>uint8'); fclose(f);
cut = fullfile(folder, 'cut.pcapng');
f = fopen(cut, 'w'); fwrite(f, bytes(1:end - 30)); fclose(f);
[id, message] = error_of(sprintf('lidarread(''%s'')', cut));
test_check(strcmp(id, 'lidarread:damaged'), ['truncated: ' id ' ' message]);
[id, message] = error_of(sprintf('lidarread(''%s'', [2 1])', capture));
test_check(strcmp(id, 'lidarread:window'), ['window: ' id ' ' message]);
[id, message] = error_of('lidarread(42)');
test_check(strcmp(id, 'lidarread:fileName'), ['file name: ' id ' ' message]);
[id, message] = error_of(sprintf('lidarread(''%s'', [], ''127.0.0.99'')', capture));
test_check(strcmp(id, 'lidarread:noSuchLidar'), ['no such lidar: ' id ' ' message]);

confirm_recursive_rmdir(false);
rmdir(folder, 's');
disp('lidarread_octave_test: all checks passed');
