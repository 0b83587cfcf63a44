function stream_fill(varargin)
  % Runs the stream filler (KESTO_STREAM_FILLER) with the given arguments; it must succeed.
  command = [getenv('KESTO_STREAM_FILLER') sprintf(' %s', varargin{:})];
  [status, text] = system(command);
  test_check(status == 0, [command ': ' text]);
end
