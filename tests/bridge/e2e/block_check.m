% The block "brenic-shm v5" read through the real lidartap5 plug-in, against the packets lidar-sim
% recorded as the last of each of its streams (A.point and A.imu in E2E_RECORD_DIR, one pair per
% lidar A): the matrix must be the one those bytes give. E2E_LAST_TYPE is the data type of the
% last write (1: the point streams ended last, 0: the IMU streams did), which decides whether
% the matrix shows the point records or the IMU values. Both lidars write the one block, and
% which of them wrote last is not knowable, so the point part may come from either lidar's last
% point packet and the IMU part from either lidar's last IMU packet; nothing else matches.
% Polls until a match, for at most E2E_DEADLINE seconds (default 60). KESTO_MEX_DIR holds the
% plug-in. Any failure ends the script with an error.
1;

function bytes = read_bytes(path)
  fid = fopen(path, 'rb');
  if fid < 0
    error('block check: cannot read %s', path);
  end
  bytes = fread(fid, Inf, 'uint8=>uint8')';
  fclose(fid);
end

function v = le(bytes, type)
  v = double(typecast(uint8(bytes), type));
end

% The matrix of a block whose last write was of `type` (0: the IMU packet, 1: the point packet),
% the other part holding the other packet.
function m = expected_matrix(point, imu, type)
  m = zeros(5, 98);
  m(1, 1) = type;
  m(2, 1) = le(point(29:36), 'uint64');
  m(4, 2) = le(imu(29:36), 'uint64');
  if type == 0
    m(3:8) = le(imu(37:60), 'single');
  else
    for k = 0:95
      r = point(37 + 14 * k : 36 + 14 * (k + 1));
      m(:, k + 3) = [le(r(1:4), 'int32'); le(r(5:8), 'int32'); le(r(9:12), 'int32'); double(r(13)); double(r(14))];
    end
  end
end

addpath(getenv('KESTO_MEX_DIR'));
folder = getenv('E2E_RECORD_DIR');
last_type = str2double(getenv('E2E_LAST_TYPE'));
if last_type ~= 0 && last_type ~= 1
  error('block check: E2E_LAST_TYPE must be 0 or 1');
end
deadline = str2double(getenv('E2E_DEADLINE'));
if isnan(deadline)
  deadline = 60;
end
files = dir(fullfile(folder, '*.point'));
if isempty(files)
  error('block check: no recorded point packet in %s', folder);
end
lidars = {};
for f = files'
  lidars{end + 1} = f.name(1:end - numel('.point'));
end
candidates = {};
names = {};
for p = 1:numel(lidars)
  point = read_bytes(fullfile(folder, [lidars{p} '.point']));
  if numel(point) ~= 1380 || point(11) ~= 1
    error('block check: %s.point is not a type-1 packet of 1380 bytes', lidars{p});
  end
  for i = 1:numel(lidars)
    imu = read_bytes(fullfile(folder, [lidars{i} '.imu']));
    if numel(imu) ~= 60 || imu(11) ~= 0
      error('block check: %s.imu is not an IMU packet of 60 bytes', lidars{i});
    end
    candidates{end + 1} = expected_matrix(point, imu, last_type);
    names{end + 1} = sprintf('data type %d, points of %s, IMU of %s', last_type, lidars{p}, lidars{i});
  end
end

evalc('data = lidartap5;');  % the first call prints the banner
started = tic;
while true
  for c = 1:numel(candidates)
    if isequal(data, candidates{c})
      printf('block check: lidartap5 gives the recorded packets (%s)\n', names{c});
      evalc('clear lidartap5');
      exit(0);
    end
  end
  if toc(started) > deadline
    break;
  end
  pause(0.1);
  data = lidartap5;
end
printf('block check: lidartap5 gives type %d, point time %d, IMU time %d\n', data(1, 1), data(2, 1), data(4, 2));
for c = 1:numel(candidates)
  m = candidates{c};
  printf('  expected (%s): point time %d, IMU time %d, %d elements differ\n', names{c}, m(2, 1), ...
         m(4, 2), nnz(m ~= data));
end
error('block check: the block does not hold the last packets lidar-sim sent');
