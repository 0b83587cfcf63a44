function rows = derived_point_rows(c, first_byte, handle)
  % The point rows of derived packet c (data type mod(c, 4), timestamp 1000 c + 7): its 96
  % records decoded from bytes (131 c + 7 i) mod 256, i counted from first_byte at the first
  % record, with the given handle.
  type = mod(c, 4);
  sizes = [14 8 10];
  size = sizes(type);
  bytes = uint8(mod(131 * c + 7 * (first_byte:first_byte + size * 96 - 1), 256));
  records = reshape(bytes, size, 96);
  rows = zeros(96, 8);
  for k = 1:96
    r = records(:, k)';
    switch type
      case 1
        values = double(typecast(r(1:12), 'int32'));
      case 2
        values = double(typecast(r(1:6), 'int16'));
      case 3
        values = [double(typecast(r(1:4), 'uint32')) double(typecast(r(5:8), 'uint16'))];
    end
    rows(k, 1:5) = [values double(r(size - 1:size))];
  end
  rows(:, 6) = 1000 * c + 7;
  rows(:, 7) = handle;
  rows(:, 8) = type;
end
