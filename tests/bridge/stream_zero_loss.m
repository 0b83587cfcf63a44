% The reader side of stream_zero_loss.sh: calls lidarstream in a loop until every lidar's
% KESTO_ZERO_LOSS_PACKETS point packets have arrived, checking that each call reports no loss
% and no writer restart and that each lidar's packets come in rising timestamp order. With
% KESTO_ZERO_LOSS_QUIET set (a lidar reboots meanwhile, and sends what it sends), it reads until
% no packet has come for that many seconds and prints each lidar's count for the script to
% compare with what the emulator sent. With KESTO_ZERO_LOSS_KEEP set, every point and IMU row
% lidarstream gave is saved to that file (variables points, imu) at the end. Any failed check
% ends Octave with an error.
1;
addpath(getenv('KESTO_MEX_DIR'));
packets = str2double(getenv('KESTO_ZERO_LOSS_PACKETS'));
lidars = 2;
quiet = str2double(getenv('KESTO_ZERO_LOSS_QUIET'));  % NaN: every lidar sends PACKETS
rows_per_packet = 96;  % point data type 1

[~, ~, counts] = lidarstream;  % from here on, every packet counts
fclose(fopen(getenv('KESTO_ZERO_LOSS_READY'), 'w'));

keep = getenv('KESTO_ZERO_LOSS_KEEP');
kept_points = {};
kept_imu = {};
handles = [];
received = [];
last_time = [];
lost = 0;
restarts = 0;
calls = 0;
start = tic;
last_arrival = tic;
% Generous: the lidars are found within seconds and send for PACKETS / 2083 s.
deadline = 60 + packets / 2083 * 3;
while toc(start) < deadline
  [points, imu, counts] = lidarstream;
  calls = calls + 1;
  if ~isempty(keep)
    kept_points{end + 1} = points;
    kept_imu{end + 1} = imu;
  end
  lost = lost + counts.lost;
  restarts = restarts + counts.restarts;
  if lost > 0 || restarts > 0
    error('zero_loss: %d packets lost, %d writer restarts after %d calls', lost, restarts, calls);
  end
  firsts = points(1:rows_per_packet:end, :);
  if rows(firsts) > 0
    last_arrival = tic;
  end
  for k = 1:rows(firsts)
    h = firsts(k, 7);
    at = find(handles == h);
    if isempty(at)
      handles(end + 1) = h;
      received(end + 1) = 0;
      last_time(end + 1) = -Inf;
      at = numel(handles);
    end
    if firsts(k, 6) <= last_time(at)
      error('zero_loss: lidar %d packet %d out of order', h, received(at) + 1);
    end
    last_time(at) = firsts(k, 6);
    received(at) = received(at) + 1;
  end
  if isnan(quiet) && numel(handles) == lidars && all(received >= packets)
    break;
  end
  if ~isnan(quiet) && numel(handles) == lidars && toc(last_arrival) > quiet
    break;
  end
  pause(0.02);
end
printf('zero_loss: %d calls, packets per lidar: %s, lost %d\n', calls, mat2str(received), lost);
if ~isempty(keep)
  points = vertcat(zeros(0, 8), kept_points{:});
  imu = vertcat(zeros(0, 8), kept_imu{:});
  save('-binary', keep, 'points', 'imu');
end
for k = 1:numel(handles)
  printf('zero_loss: lidar %d received %d\n', handles(k), received(k));
end
if ~isnan(quiet)
  if numel(handles) ~= lidars
    error('zero_loss: packets of %d lidars, expected %d', numel(handles), lidars);
  end
elseif numel(handles) ~= lidars || any(received ~= packets)
  error('zero_loss: expected %d point packets from each of %d lidars', packets, lidars);
end
