function test_fill(varargin)
  % Runs the block filler (KESTO_BLOCK_FILLER) with the given arguments; it must succeed.
  command = [getenv('KESTO_BLOCK_FILLER') sprintf(' %s', varargin{:})];
  [status, text] = system(command);
  test_check(status == 0, [command ': ' text]);
end
