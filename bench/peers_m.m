% The same complex points turned into two definite-length blocks of
% big-endian 16-bit samples in M code, as an Octave user would write it
% without the module. Prints "m_code <median processor seconds for both
% parts>" and writes the blocks to OUTDIR/m_code.i and OUTDIR/m_code.q.
function peers_m(signal, len, outdir, repeats)
  f = fopen(signal, 'rb');
  both = fread(f, [len 2], 'double');
  fclose(f);
  iq = complex(both(:, 1), both(:, 2)).';
  clear both;
  times = zeros(repeats, 1);
  for r = 1:repeats
    t = cputime;
    blocks = {real(iq), imag(iq)};
    for p = 1:2
      bytes = typecast(swapbytes(int16(fix(blocks{p}))), 'uint8');
      count = sprintf('%d', numel(bytes));
      blocks{p} = [uint8(sprintf('#%d%s', numel(count), count)), bytes];
    end
    times(r) = cputime - t;
  end
  suffixes = {'i', 'q'};
  for p = 1:2
    f = fopen(fullfile(outdir, ['m_code.' suffixes{p}]), 'wb');
    fwrite(f, blocks{p}, 'uint8');
    fclose(f);
  end
  printf('m_code %.9f\n', median(times));
end
