// The API-version export every reader plug-in carries: built for MATLAB R2023b, against the
// separate-complex interface with 64-bit dimensions (API 730).
#include "mex_api.h"

extern "C" void mexfilerequiredapiversion(unsigned int* built_by_release,
                                          unsigned int* target_api_version) {
  *built_by_release = 0x2023Bu;
  *target_api_version = 0x07300000u;
}
