#ifndef KESTO_MATLAB_MEX_API_H_
#define KESTO_MATLAB_MEX_API_H_

// The handful of MEX and MX calls the plug-ins use, and nothing else of the host.
//
// Three builds include this header:
// - Octave (KESTO_MEX_HOST_OCTAVE, set by the mkoctfile build): Octave's own mex.h, because
//   Octave's ABI is not MATLAB's (its mwSize is a signed 64-bit integer, its array constructor
//   is the plain mxCreateDoubleMatrix) and the header that ships with the library is the only
//   statement of that ABI the compiler can check our calls against.
// - MATLAB (KESTO_MEX_API_730) and the project's fake MEX host of the unit tests: the
//   declarations below, those of MATLAB's separate-complex interface with 64-bit dimensions
//   (API 730, release option R2017b). There the array constructor is the symbol
//   mxCreateDoubleMatrix_730; the fake host defines exactly these symbols, so a wrong name or
//   signature here fails the test link instead of a user's MATLAB.
//
// mexErrMsgTxt never returns to the caller in a real host (the call ends with a MATLAB error);
// the fake host throws. Callers keep no state they would need to undo after it.

#if defined(KESTO_MEX_HOST_OCTAVE)

#include <mex.h>

#else

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;  // opaque; only the host knows its layout
typedef size_t mwSize;
typedef size_t mwIndex;
typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

// Defined by the plug-in, called by the host.
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// Defined by the host.
int mexPrintf(const char* format, ...);
void mexErrMsgTxt(const char* message);
void mexMakeMemoryPersistent(void* ptr);
int mexAtExit(void (*exit_function)(void));
mxArray* mxCreateDoubleMatrix_730(mwSize rows, mwSize cols, mxComplexity complexity);
double* mxGetPr(const mxArray* array);
mxArray* mxCreateStructMatrix_730(mwSize rows, mwSize cols, int field_count, const char** field_names);
void mxSetField_730(mxArray* array, mwIndex index, const char* field_name, mxArray* value);
// For plug-ins that take arguments and raise errors with identifiers (lidarread).
void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...);
bool mxIsChar(const mxArray* array);
bool mxIsDouble(const mxArray* array);
bool mxIsComplex(const mxArray* array);
size_t mxGetNumberOfElements(const mxArray* array);
size_t mxGetM(const mxArray* array);
size_t mxGetN(const mxArray* array);
int mxGetString_730(const mxArray* array, char* buffer, mwSize buffer_length);
mxArray* mxCreateString(const char* text);

#ifdef __cplusplus
}  // extern "C"
#endif

#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
#define mxCreateStructMatrix mxCreateStructMatrix_730
#define mxSetField mxSetField_730
#define mxGetString mxGetString_730

#endif  // KESTO_MEX_HOST_OCTAVE

#ifdef __cplusplus
extern "C" {
#endif
// Defined by the plug-in: the MATLAB release it is built for and the MEX/MX API it targets.
void mexfilerequiredapiversion(unsigned int* built_by_release, unsigned int* target_api_version);
#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KESTO_MATLAB_MEX_API_H_
