% Microseconds per data=lidartap5; (and data=lidartap2;) call inside Octave, beside Octave's own
% cost of making a matrix of the same shape with zeros() and of an empty loop, so that the
% plug-ins' own share is visible. Not part of the test run:
%   cmake --build <build> --target octave_reader_bench
% or by hand from an empty folder:
%   KESTO_MEX_DIR=<build>/matlab/octave octave-cli --no-gui -q bench/octave_reader_bench.m
1;

function us = per_call(statement, calls)
  % The statement runs inside a loop compiled once by eval, so only its own cost is timed.
  code = sprintf('for bench_i = 1:%d, %s; end', calls, statement);
  eval(code);  % warm-up
  best = Inf;
  for rep = 1:5
    t = tic;
    eval(code);
    best = min(best, toc(t));
  end
  us = best / calls * 1e6;
end

addpath(getenv('KESTO_MEX_DIR'));
calls = 20000;
% With the tests' block filler at hand, time the largest decode (type-1 points) rather than a
% zero block; this writes into the real blocks, as the bridge would.
filler = getenv('KESTO_BLOCK_FILLER');
if ~isempty(filler)
  system([filler ' v5-points 1']);
  system([filler ' legacy']);
end
evalc('data = lidartap5;');  % maps the block and prints the banner outside the timing
evalc('data = lidartap2;');

empty = per_call('', calls);
zeros5 = per_call('data = zeros(5, 98)', calls);
tap5 = per_call('data = lidartap5', calls);
zeros3 = per_call('data = zeros(3, 98)', calls);
tap2 = per_call('data = lidartap2', calls);

data = lidartap5;
printf('calls per measurement:     %d (best of 5), lidartap5 block of data type %d\n', calls, data(1, 1));
printf('empty loop:                %8.3f us per iteration\n', empty);
printf('data = zeros(5, 98):       %8.3f us per call\n', zeros5);
printf('data = lidartap5:          %8.3f us per call\n', tap5);
printf('data = zeros(3, 98):       %8.3f us per call\n', zeros3);
printf('data = lidartap2:          %8.3f us per call\n', tap2);
evalc('clear lidartap5 lidartap2');
if ~isempty(filler)
  system([filler ' unlink']);
end
