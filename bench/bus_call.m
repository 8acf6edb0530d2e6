% Whole calls of the module in Octave against the simulated bus. The folder
% holding vandrel.mex and the stand-in driver is on the path; the bus is
% named by the simulator's environment variable.
%
%   bus_call('call', KIND, LEN, RATE, REPEATS)  times calls of the real part
%       of LEN complex points (the same bytes on the bus, the Q part as
%       zeros, but no copy of the argument by Octave), then calls of the
%       complex points, whose argument Octave copies into separate real and
%       imaginary arrays for the module; prints "call <median s complex>
%       <median s real> <modeled wire s> <least s complex> <least s real>",
%       the wire time being every byte the call puts on or takes off the bus
%       at RATE bytes a second. The
%       real calls go first: once a large copy has been freed, the C
%       library's heap behaves differently for the rest of the process.
%   bus_call('empty', KIND, LEN, 0, REPEATS)    times calls that find no
%       instrument and prints "empty <median s>"
%   bus_call('memory', KIND, LEN, 0, 1)         prints "memory <input bytes>
%       <resident bytes before> <peak resident bytes during the call>" for a
%       call with the real part alone, then the same for the complex points
% KIND is 'ni' or 'sicl'; the bus must give the instrument the identity
% that wireBytes counts.
function bus_call(mode, kind, len, rate, repeats)
  name = 'bench';
  t = (0:len - 1) * (2 * pi / 997);
  iq = complex(30000 * cos(t), 30000 * sin(t));
  clear t;
  % The first call loads the module and, with NI-488.2, the driver, which
  % then stays loaded as it would in a MATLAB session.
  evalc('vandrel(iq(1), name);');
  switch mode
    case 'call'
      realTimes = timeCalls(real(iq), name, repeats);
      complexTimes = timeCalls(iq, name, repeats);
      printf('call %.6f %.6f %.6f %.6f %.6f\n', median(complexTimes), median(realTimes), ...
             wireBytes(kind, len, name) / rate, min(complexTimes), min(realTimes));
    case 'empty'
      times = timeCalls(iq, name, repeats);
      printf('empty %.6f\n', median(times));
    case 'memory'
      re = real(iq);
      [before, peak] = peakDuring(re, name);
      printf('memory real %d %d %d\n', 8 * len, before, peak);
      clear re;
      [before, peak] = peakDuring(iq, name);
      printf('memory complex %d %d %d\n', 16 * len, before, peak);
  end
end

function times = timeCalls(iq, name, repeats)
  times = zeros(repeats, 1);
  for r = 1:repeats
    start = tic;
    evalc('vandrel(iq, name);');
    times(r) = toc(start);
  end
end

% Bytes on the bus in one call: the identity query and its reply, then per
% part the memory command and its block (SICL's format ends in a newline).
function bytes = wireBytes(kind, len, name)
  identity = 'KVR Instruments,KVR-D K2073D,0000731,2.0';
  count = 2 * len;
  block = 2 + numel(sprintf('%d', count)) + count;
  if strcmp(kind, 'ni')
    command = numel(['mmem:data "arbi:' name '", ']);
  else
    command = numel(['mmem:data "arbi:' name '",']);
    block = block + 1;
  end
  bytes = numel('*IDN?') + numel(identity) + 1 + 2 * (command + block);
end

% The resident size before a call and its peak during the call.
function [before, peak] = peakDuring(iq, name)
  resetPeak();
  before = statusBytes('VmRSS');
  evalc('vandrel(iq, name);');
  peak = statusBytes('VmHWM');
end

function resetPeak()
  f = fopen('/proc/self/clear_refs', 'w');
  fprintf(f, '5');
  fclose(f);
end

function value = statusBytes(key)
  text = fileread('/proc/self/status');
  found = regexp(text, [key ':\s*(\d+)\s*kB'], 'tokens', 'once');
  value = 1024 * str2double(found{1});
end
