/* A loadable library without a VST entry, for the host's tests. Written in C, which also checks
 * that the plug-in interface header (and its size checks) is C. */
#include "platform/VstAbi.h"

int32_t vorlanNoEntry(void) {
    return (int32_t)sizeof(AEffect);
}
