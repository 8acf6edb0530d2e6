/* The marker Octave looks for when it loads a MEX module: a module that
   exports it reads complex arrays through the interleaved API, and Octave
   hands them over in its own storage. mkoctfile's -R2018a adds this very
   definition, compiled as C, beside the define MX_HAS_INTERLEAVED_COMPLEX=1
   for the module's own code. The two go together: with one and not the
   other, Octave and the module disagree about the layout, and Octave has
   been seen to abort on it. */
const int __mx_has_interleaved_complex__ = 1;
