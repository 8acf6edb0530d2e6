% The demo's I/Q waveform: two tones that loop seamlessly in the dual arb.
function iq = simDemoWaveform(n)
  % SIMDEMOWAVEFORM  A two-tone I/Q vector of N points scaled to the 16-bit range.
  %   IQ = simDemoWaveform(N) is a row vector: a tone of 3 cycles and one of
  %   -11 cycles over the N points, each of amplitude 16000, so that the sum
  %   stays within +/-32767 and the end joins the start.
  k = 0:(n - 1);
  iq = 16000 * exp(2i * pi * 3 * k / n) + 16000 * exp(-2i * pi * 11 * k / n);
end
