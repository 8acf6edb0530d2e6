% Plots the I and Q files the simulated KVR-D stored, as traces and as an I/Q
% constellation, into a PNG picture; works without a display.
function simPlotStored(iFile, qFile, label, pngFile)
  % SIMPLOTSTORED  Picture of a stored waveform's I and Q memories.
  %   simPlotStored(IFILE, QFILE, LABEL, PNGFILE) reads both files with
  %   simReadWaveform and writes PNGFILE: the I trace, the Q trace and the
  %   constellation of Q against I, titled with LABEL.
  i = simReadWaveform(iFile);
  q = simReadWaveform(qFile);
  if numel(i) ~= numel(q)
    error('simPlotStored: %s holds %d samples, %s holds %d', iFile, numel(i), qFile, numel(q));
  end
  warning('off', 'Octave:gnuplot-graphics');
  graphics_toolkit('gnuplot');
  figure_ = figure('visible', 'off', 'position', [0 0 1200 700]);
  n = (0:numel(i) - 1)';
  limit = [-32768 32767];

  subplot(2, 3, [1 2]);
  plot(n, i, 'b');
  axis([0 max(numel(i) - 1, 1) limit]);
  ylabel('I sample');
  title(sprintf('%s: I memory (arbi), %d points', label, numel(i)));
  grid on;

  subplot(2, 3, [4 5]);
  plot(n, q, 'r');
  axis([0 max(numel(q) - 1, 1) limit]);
  xlabel('sample');
  ylabel('Q sample');
  title('Q memory (arbq)');
  grid on;

  subplot(2, 3, [3 6]);
  plot(i, q, 'k.', 'markersize', 2);
  axis([limit limit], 'square');
  xlabel('I');
  ylabel('Q');
  title('I/Q constellation');
  grid on;

  print(figure_, '-dpng', '-r100', pngFile);
  close(figure_);
end
