% lidarstream in real Octave: the Octave build of the plug-in, the stream block written by
% KESTO_STREAM_FILLER (one writer start per run, packets derived from their index c: data type
% c % 4, handle 127.0.0.(1 + c % 3), timestamp 1000 c + 7, IMU values c + 0.25 j, point data
% byte i = (131 c + 7 i) % 256). Any failed check ends the script with an error.
1;

function message = error_of(statement)
  message = '';
  try
    evalc(statement);
  catch err
    message = err.message;
  end
end

% The point rows packet c gives: its 96 records decoded from the derived bytes.
function rows = expected_points(c)
  rows = derived_point_rows(c, 0, 127 + (1 + mod(c, 3)) * 2^24);
end

function check_counts(counts, returned, lost, restarts, in_ring, what)
  got = [counts.returned counts.lost counts.restarts counts.in_ring];
  test_check(isequal(got, [returned lost restarts in_ring]), sprintf('%s: counts %s', what, mat2str(got)));
  % The stream_fill writer tells no drops of the system.
  test_check(isfield(counts, 'os_dropped') && counts.os_dropped == 0, sprintf('%s: os_dropped', what));
end

addpath(getenv('KESTO_MEX_DIR'));
addpath(fileparts(mfilename('fullpath')));  % test_check, stream_fill, derived_point_rows
banner = 'Shared-memory access for MATLAB, by Kesto (c) 2024';
ring = 16384;

stream_fill('unlink');
out = evalc('[points, imu, counts] = lidarstream;');
test_check(numel(strfind(out, banner)) == 1, ['banner once: ' out]);
test_check(isequal(size(points), [0 8]) && isequal(size(imu), [0 8]) && isa(points, 'double'), ...
           'before the bridge: empty matrices of eight columns');
check_counts(counts, 0, 0, 0, 0, 'before the bridge');

% Packets 0-7 from the first writer: all of them, since this reader came first.
stream_fill('write', '8');
[points, imu, counts] = lidarstream;
check_counts(counts, 8, 0, 0, 8, 'first writer');
test_check(isequal(points, [expected_points(1); expected_points(2); expected_points(3); ...
                            expected_points(5); expected_points(6); expected_points(7)]), 'point rows');
c = [0; 4];
expected_imu = [1000 * c + 7, 127 + (1 + mod(c, 3)) * 2^24, c + 0.25 * (0:5)];
test_check(isequal(imu, expected_imu), ['IMU rows ' mat2str(imu)]);

% A second writer (a bridge restart) writes more than a ring while nobody reads.
stream_fill('write', num2str(3 * ring + 5));
[points, imu, counts] = lidarstream;
check_counts(counts, ring, 2 * ring + 5, 1, ring, 'lapped after a restart');
first = 8 + 2 * ring + 5;  % the oldest packet the ring still holds
first_points = first + (mod(first, 4) == 0);
test_check(isequal(points(1:96, :), expected_points(first_points)), 'first point rows of the ring');
types = unique(points(:, 8))';
test_check(isequal(types, [1 2 3]) && size(imu, 1) == ring / 4, 'a ring of packets decoded');
test_check(all(diff(points(:, 6)) >= 0) && all(diff(imu(:, 1)) > 0), 'in order');
test_check(imu(1, 1) == 1000 * (first + mod(4 - mod(first, 4), 4)) + 7, 'starting at the oldest kept');

% Errors and usage in the manner of lidartap5.
test_check(strcmp(error_of('lidarstream(1)'), 'lidarstream: zero input must be required for shared memory.'), ...
           'input refused');
out = evalc('try, lidarstream; catch err, disp(err.message); end');
usage = sprintf('------------------------------\n%-32s\n%s\n', 'Usage: lidarstream', '[points,imu,counts]=lidarstream;');
test_check(numel(strfind(out, usage)) == 1, ['usage text: ' out]);
test_check(numel(strfind(out, 'lidarstream: One to three outputs must be required.')) == 1, ['usage error: ' out]);

% Cleared, the plug-in gives up its place: the next call starts at the newest packet.
out = evalc('clear lidarstream');
test_check(strcmp(out, sprintf('MEX-file is safely terminated.\n')), ['exit hook: ' out]);
stream_fill('write', '2');
evalc('[points, imu, counts] = lidarstream;');
check_counts(counts, 1, 0, 0, ring, 'after clear');
evalc('clear lidarstream');
stream_fill('unlink');
disp('lidarstream_octave_test: all checks passed');
