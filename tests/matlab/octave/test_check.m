function test_check(condition, what)
  % Ends the Octave test script with an error unless the condition holds.
  if ~condition
    error('octave test: check failed: %s', what);
  end
end
