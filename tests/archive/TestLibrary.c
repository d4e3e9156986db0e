/* Stand-ins for a wrong "7z.dll": each build leaves out what one error case needs to be missing. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define EXPORT __attribute__((visibility("default")))

typedef struct {
    uint16_t vt, r1, r2, r3;
    union {
        uint32_t ulVal;
        void* pointer;
    };
} Variant;

#ifdef WITH_CREATE_OBJECT
EXPORT int32_t CreateObject(const void* clsid, const void* iid, void** object) {
    (void)clsid;
    (void)iid;
    *object = 0;
    return (int32_t)0x80040111u;
}

EXPORT wchar_t* SysAllocStringLen(const wchar_t* text, unsigned length) {
    uint32_t* block = malloc(sizeof(uint32_t) + (length + 1) * sizeof(wchar_t));
    wchar_t* string = (wchar_t*)(block + 1);
    block[0] = length * sizeof(wchar_t);
    if (text)
        memcpy(string, text, length * sizeof(wchar_t));
    string[length] = 0;
    return string;
}

EXPORT void SysFreeString(wchar_t* text) {
    if (text)
        free((uint32_t*)text - 1);
}

EXPORT unsigned SysStringByteLen(wchar_t* text) {
    return text ? ((uint32_t*)text)[-1] : 0;
}

EXPORT int32_t VariantClear(Variant* value) {
    value->vt = 0;
    return 0;
}

EXPORT int32_t GetModuleProp(uint32_t id, Variant* value) {
    memset(value, 0, sizeof *value);
    if (id == 0) {
        value->vt = 19; /* VT_UI4 */
        value->ulVal = INTERFACE_LAYOUT;
    }
    return 0;
}
#endif

#ifdef WITH_HANDLER_PROPERTY
EXPORT int32_t GetHandlerProperty(uint32_t id, Variant* value) {
    (void)id;
    memset(value, 0, sizeof *value);
    return 0;
}
#endif
