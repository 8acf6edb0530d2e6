% Whole calls of the module in Octave against the simulated bus. The folder
% holding vandrel.mex and the stand-in driver is on the path; the bus is
% named by the simulator's environment variable.
%
%   bus_call('call', KIND, LEN, RATE, REPEATS)  times calls of the real part
%       of LEN complex points (the same bytes on the bus, the Q part as
%       zeros), then calls of the complex points as a user passes them;
%       prints "call <median s complex> <median s real> <modeled wire s>
%       <least s complex> <least s real> <done>", the wire time being every
%       byte the call puts on or takes off the bus at RATE bytes a second,
%       and done 1 when every call printed its "Done" line. Octave hands
%       either argument over in its own storage (the module is built in the
%       interleaved complex mode).
%   bus_call('empty', KIND, LEN, 0, REPEATS)    times calls that find no
%       instrument and prints "empty <median s>"
%   bus_call('memory-complex', KIND, LEN, 0, 1) prints "memory complex
%       <input bytes> <resident bytes before> <peak resident bytes during the
%       call> <done>" for one call with the complex points;
%       'memory-real' the same for their real part alone. Each is meant for
%       a process of its own, so that no earlier call's freed memory serves
%       the one measured.
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
      [realTimes, realDone] = timeCalls(real(iq), name, repeats);
      [complexTimes, complexDone] = timeCalls(iq, name, repeats);
      printf('call %.6f %.6f %.6f %.6f %.6f %d\n', median(complexTimes), median(realTimes), ...
             wireBytes(kind, len, name) / rate, min(complexTimes), min(realTimes), realDone && complexDone);
    case 'empty'
      times = timeCalls(iq, name, repeats);
      printf('empty %.6f\n', median(times));
    case 'memory-real'
      re = real(iq);
      clear iq;
      [before, peak, done] = peakDuring(re, name);
      printf('memory real %d %d %d %d\n', 8 * len, before, peak, done);
    case 'memory-complex'
      [before, peak, done] = peakDuring(iq, name);
      printf('memory complex %d %d %d %d\n', 16 * len, before, peak, done);
  end
end

function [times, done] = timeCalls(iq, name, repeats)
  times = zeros(repeats, 1);
  done = true;
  for r = 1:repeats
    start = tic;
    out = evalc('vandrel(iq, name);');
    times(r) = toc(start);
    done = done && ~isempty(strfind(out, 'Done loading'));
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
function [before, peak, done] = peakDuring(iq, name)
  resetPeak();
  before = statusBytes('VmRSS');
  out = evalc('vandrel(iq, name);');
  peak = statusBytes('VmHWM');
  done = ~isempty(strfind(out, 'Done loading'));
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
