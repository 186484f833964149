// Container-of helpers for the interfaces embedded in ADAPTER_CONTEXT.
#include "driver/core/context.h"

#include "driver/lib/driverlib.h"

namespace {

const CHAR8 kBadSignature[] = "\"CR has Bad Signature\"";

// The signature is read only after This proved non-null, so a stray pointer
// costs a report rather than a record that is not an adapter context.
ADAPTER_CONTEXT* CheckedContext(void* This, UINTN MemberOffset, const char* Module, UINT32 Line) {
  if (This == nullptr) return nullptr;
  auto* Context = reinterpret_cast<ADAPTER_CONTEXT*>(static_cast<UINT8*>(This) - MemberOffset);
  if (Context->Signature != ADAPTER_CONTEXT_SIGNATURE) {
    ReportAssertion(Module, Line, kBadSignature);
    return nullptr;
  }
  return Context;
}

}  // namespace

ADAPTER_CONTEXT* ContextFromUgaDraw(EFI_UGA_DRAW_PROTOCOL* This, const char* Module, UINT32 Line) {
  return CheckedContext(This, offsetof(ADAPTER_CONTEXT, UgaDraw), Module, Line);
}

ADAPTER_CONTEXT* ContextFromConfigInterface(QUOVAN_CONFIG_INTERFACE* This, const char* Module, UINT32 Line) {
  return CheckedContext(This, offsetof(ADAPTER_CONTEXT, ConfigInterface), Module, Line);
}

ADAPTER_CONTEXT* ContextFromDisplayInterface(QUOVAN_DISPLAY_INTERFACE* This, const char* Module, UINT32 Line) {
  return CheckedContext(This, offsetof(ADAPTER_CONTEXT, DisplayInterface), Module, Line);
}

ADAPTER_CONTEXT* ContextFromGraphicsOutput(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, const char* Module, UINT32 Line) {
  return CheckedContext(This, offsetof(ADAPTER_CONTEXT, Gop), Module, Line);
}
