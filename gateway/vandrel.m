% VANDREL  Store a complex I/Q waveform in the dual arb of a KVR-D signal generator.
%
%   vandrel(IQ, NAME) finds a GPIB interface (SICL or NI-488.2, whichever
%   driver is installed), finds the KVR-D on the bus with "*IDN?", and stores
%   real(IQ) in the instrument's I memory and imag(IQ) in its Q memory, both
%   under the waveform name NAME.
%
%   IQ    a complex double vector, row or column. A real vector stores zeros
%         in the Q memory. Each value is stored as a 16-bit integer,
%         truncated toward zero (values outside -32768..32767 wrap), so scale
%         the data to +/-32767 before the call.
%   NAME  the waveform name, a text without double quotes or control
%         characters.
%
%   The call prints each stage as a line: the name and length, the card in
%   use, the interface, the instrument's bus address, the transfer timeout,
%   the loading of each part and "Done loading the waveform into the KVR dual
%   arb." when both parts are stored. It returns nothing.
%
%   Example:
%     t = (0:999) / 1000;
%     vandrel(32767 * exp(2i * pi * 5 * t), 'tone');
