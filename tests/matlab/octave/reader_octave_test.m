% The reader plug-ins in real Octave: the Octave builds of lidartap5 and lidartap2 are loaded
% from KESTO_MEX_DIR, the blocks are filled by KESTO_BLOCK_FILLER, and every matrix is checked
% against the formulas the filler uses. Any failed check ends the script with an error.
1;

function n = count(text, fragment)
  n = numel(strfind(text, fragment));
end

function message = error_of(statement)
  message = '';
  try
    evalc(statement);
  catch err
    message = err.message;
  end
end

% The errors of a call with an input and of a bare statement, the usage text shown before the
% latter (padded to `width` characters), and the exit hook on clear.
function check_errors_and_exit(name, width, banner)
  test_check(strcmp(error_of([name '(1)']), [name ': zero input must be required for shared memory.']), ...
             [name ' input refused']);
  out = evalc(['try, ' name '; catch err, disp(err.message); end']);
  usage = sprintf('------------------------------\n%-*s\n%-*s\n', width, ['Usage: ' name], ...
                  width, ['data=' name ';']);
  test_check(count(out, usage) == 1 && count(out, banner) == 1, [name ' usage text: ' out]);
  test_check(count(out, [name ': One input and one output must be required.']) == 1, ...
             [name ' usage error: ' out]);
  out = evalc(['clear ' name]);
  test_check(strcmp(out, sprintf('MEX-file is safely terminated.\n')), [name ' exit hook: ' out]);
end

function m = expected_points(type)
  m = zeros(5, 98);
  m(1, 1) = type;
  m(2, 1) = 4000000000 + type;
  m(4, 2) = 5000000001;
  k = 0:95;
  switch type
    case 1
      records = [-(k + 1) * 100000; 7 * k; 2147483647 - k];
    case 2
      records = [-k; k - 48; -32768 + k];
    case 3
      records = [4294967295 - k; 65535 - k; 100 * k];
  end
  m(:, 3:98) = [records; k; 255 - k];
end

addpath(getenv('KESTO_MEX_DIR'));
addpath(fileparts(mfilename('fullpath')));  % test_check, test_fill
banner = 'Shared-memory access for MATLAB, by Kesto (c) 2024';
site = 'https://www.kesto.example.com  built ';

% ---- lidartap5 ----
test_fill('unlink');
out = evalc('data = lidartap5;');
test_check(isequal(size(data), [5 98]) && isreal(data) && isa(data, 'double'), 'lidartap5 gives a real 5 x 98 double');
test_check(~any(data(:)), 'lidartap5 without writer gives zeros');
test_check(count(out, banner) == 1 && count(out, site) == 1, ['banner once: ' out]);
out = evalc('data = lidartap5;');
test_check(isempty(out), ['no banner on the second call: ' out]);

test_fill('v5-imu');
data = lidartap5;
imu = zeros(5, 98);
imu(2, 1) = 0;
imu(4, 2) = 5000000001;
imu([3 4 5 6 7 8]) = double(single([0.5 -1.25 3.75 100 -0.015625 9.80665]));
test_check(isequal(data, imu), 'IMU packet');

for type = 1:3
  test_fill('v5-points', num2str(type));
  data = lidartap5;
  test_check(isequal(data, expected_points(type)), sprintf('point packet of type %d', type));
end

test_fill('v5-type', '7');
out = evalc('data = lidartap5;');
test_check(strcmp(out, sprintf('**************unknown data format*******\n')), ['unknown type line: ' out]);
unknown = zeros(5, 98);
unknown(1, 1) = 7;
test_check(isequal(data, unknown), 'unknown type gives the type only');

check_errors_and_exit('lidartap5', 32, banner);
test_fill('v5-points', '2');
out = evalc('data = lidartap5;');
test_check(count(out, banner) == 1, 'banner again after clear');
test_check(isequal(data, expected_points(2)), 'mapped again after clear');
evalc('clear lidartap5');

% ---- lidartap2 ----
out = evalc('data = lidartap2;');
test_check(isequal(size(data), [3 98]) && isreal(data), 'lidartap2 gives a real 3 x 98 matrix');
test_check(~any(data(:)), 'lidartap2 without writer gives zeros, whatever the bridge block holds');
test_check(count(out, banner) == 1, ['lidartap2 banner once: ' out]);

test_fill('legacy');
data = lidartap2;
i = 0:287;
legacy = zeros(3, 98);
legacy(1:288) = (-1) .^ i .* (1001 * i + 1);
legacy(289:294) = 0.25 * (1:6) - 1;
test_check(isequal(data, legacy), 'legacy block');

check_errors_and_exit('lidartap2', 31, banner);

test_fill('unlink');
disp('reader_octave_test: all checks passed');
