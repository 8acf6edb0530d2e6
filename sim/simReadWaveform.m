% Reads a waveform file stored by the simulated KVR-D into a column of numbers.
function samples = simReadWaveform(path)
  % SIMREADWAVEFORM  Samples of a stored waveform file (signed 16-bit, big-endian).
  %   SAMPLES = simReadWaveform(PATH) returns them as a column of doubles.
  [fid, message] = fopen(path, 'r', 'ieee-be');
  if fid < 0
    error('simReadWaveform: %s: %s', path, message);
  end
  samples = fread(fid, Inf, 'int16=>double');
  fclose(fid);
end
