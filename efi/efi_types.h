// Base EFI types and status codes, after the UEFI and EFI 1.10 standards.
// x86-64 only: UINTN is 64 bits and every firmware-facing function uses the
// Microsoft calling convention in both the host and the EFI build.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define EFIAPI __attribute__((ms_abi))

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef uint8_t BOOLEAN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;

typedef UINTN EFI_STATUS;
typedef void* EFI_HANDLE;
typedef void* EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

static_assert(sizeof(UINTN) == 8, "x86-64 only");
static_assert(sizeof(CHAR16) == 2, "CHAR16 is UCS-2");

#define EFI_TRUE ((BOOLEAN)1)
#define EFI_FALSE ((BOOLEAN)0)

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID layout");

struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};
static_assert(sizeof(EFI_TIME) == 16, "EFI_TIME layout");

struct EFI_TIME_CAPABILITIES {
  UINT32 Resolution;
  UINT32 Accuracy;
  BOOLEAN SetsToZero;
};

// ---- Status codes -------------------------------------------------------
#define EFI_ERROR_BIT 0x8000000000000000ULL
#define EFIERR(a) (EFI_ERROR_BIT | (a))
#define EFI_ERROR(s) (((INTN)(EFI_STATUS)(s)) < 0)

#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_WARN_UNKNOWN_GLYPH ((EFI_STATUS)1)
#define EFI_WARN_DELETE_FAILURE ((EFI_STATUS)2)
#define EFI_WARN_WRITE_FAILURE ((EFI_STATUS)3)
#define EFI_WARN_BUFFER_TOO_SMALL ((EFI_STATUS)4)

#define EFI_LOAD_ERROR ((EFI_STATUS)EFIERR(1))
#define EFI_INVALID_PARAMETER ((EFI_STATUS)EFIERR(2))
#define EFI_UNSUPPORTED ((EFI_STATUS)EFIERR(3))
#define EFI_BAD_BUFFER_SIZE ((EFI_STATUS)EFIERR(4))
#define EFI_BUFFER_TOO_SMALL ((EFI_STATUS)EFIERR(5))
#define EFI_NOT_READY ((EFI_STATUS)EFIERR(6))
#define EFI_DEVICE_ERROR ((EFI_STATUS)EFIERR(7))
#define EFI_WRITE_PROTECTED ((EFI_STATUS)EFIERR(8))
#define EFI_OUT_OF_RESOURCES ((EFI_STATUS)EFIERR(9))
#define EFI_VOLUME_CORRUPTED ((EFI_STATUS)EFIERR(10))
#define EFI_VOLUME_FULL ((EFI_STATUS)EFIERR(11))
#define EFI_NO_MEDIA ((EFI_STATUS)EFIERR(12))
#define EFI_MEDIA_CHANGED ((EFI_STATUS)EFIERR(13))
#define EFI_NOT_FOUND ((EFI_STATUS)EFIERR(14))
#define EFI_ACCESS_DENIED ((EFI_STATUS)EFIERR(15))
#define EFI_NO_RESPONSE ((EFI_STATUS)EFIERR(16))
#define EFI_NO_MAPPING ((EFI_STATUS)EFIERR(17))
#define EFI_TIMEOUT ((EFI_STATUS)EFIERR(18))
#define EFI_NOT_STARTED ((EFI_STATUS)EFIERR(19))
#define EFI_ALREADY_STARTED ((EFI_STATUS)EFIERR(20))
#define EFI_ABORTED ((EFI_STATUS)EFIERR(21))
#define EFI_ICMP_ERROR ((EFI_STATUS)EFIERR(22))
#define EFI_TFTP_ERROR ((EFI_STATUS)EFIERR(23))
#define EFI_PROTOCOL_ERROR ((EFI_STATUS)EFIERR(24))
#define EFI_INCOMPATIBLE_VERSION ((EFI_STATUS)EFIERR(25))
#define EFI_SECURITY_VIOLATION ((EFI_STATUS)EFIERR(26))
#define EFI_CRC_ERROR ((EFI_STATUS)EFIERR(27))

// ---- Task priority levels -----------------------------------------------
#define TPL_APPLICATION ((EFI_TPL)4)
#define TPL_CALLBACK ((EFI_TPL)8)
#define TPL_NOTIFY ((EFI_TPL)16)
#define TPL_HIGH_LEVEL ((EFI_TPL)31)

// ---- Memory -------------------------------------------------------------
enum EFI_MEMORY_TYPE {
  EfiReservedMemoryType,
  EfiLoaderCode,
  EfiLoaderData,
  EfiBootServicesCode,
  EfiBootServicesData,
  EfiRuntimeServicesCode,
  EfiRuntimeServicesData,
  EfiConventionalMemory,
  EfiUnusableMemory,
  EfiACPIReclaimMemory,
  EfiACPIMemoryNVS,
  EfiMemoryMappedIO,
  EfiMemoryMappedIOPortSpace,
  EfiPalCode,
  EfiPersistentMemory,
  EfiMaxMemoryType
};

enum EFI_ALLOCATE_TYPE { AllocateAnyPages, AllocateMaxAddress, AllocateAddress, MaxAllocateType };

struct EFI_MEMORY_DESCRIPTOR {
  UINT32 Type;
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  EFI_VIRTUAL_ADDRESS VirtualStart;
  UINT64 NumberOfPages;
  UINT64 Attribute;
};

// ---- Events and timers --------------------------------------------------
#define EVT_TIMER 0x80000000U
#define EVT_RUNTIME 0x40000000U
#define EVT_NOTIFY_WAIT 0x00000100U
#define EVT_NOTIFY_SIGNAL 0x00000200U
#define EVT_SIGNAL_EXIT_BOOT_SERVICES 0x00000201U
#define EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE 0x60000202U

typedef VOID(EFIAPI* EFI_EVENT_NOTIFY)(EFI_EVENT Event, VOID* Context);

enum EFI_TIMER_DELAY { TimerCancel, TimerPeriodic, TimerRelative };

// ---- Protocol handling --------------------------------------------------
enum EFI_INTERFACE_TYPE { EFI_NATIVE_INTERFACE };

enum EFI_LOCATE_SEARCH_TYPE { AllHandles, ByRegisterNotify, ByProtocol };

#define EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL 0x00000001U
#define EFI_OPEN_PROTOCOL_GET_PROTOCOL 0x00000002U
#define EFI_OPEN_PROTOCOL_TEST_PROTOCOL 0x00000004U
#define EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER 0x00000008U
#define EFI_OPEN_PROTOCOL_BY_DRIVER 0x00000010U
#define EFI_OPEN_PROTOCOL_EXCLUSIVE 0x00000020U

struct EFI_OPEN_PROTOCOL_INFORMATION_ENTRY {
  EFI_HANDLE AgentHandle;
  EFI_HANDLE ControllerHandle;
  UINT32 Attributes;
  UINT32 OpenCount;
};

enum EFI_RESET_TYPE { EfiResetCold, EfiResetWarm, EfiResetShutdown, EfiResetPlatformSpecific };

// EFI_UNICODE_STRING_TABLE (EFI 1.10): ends with an entry whose Language is null.
struct EFI_UNICODE_STRING_TABLE {
  const CHAR8* Language;
  const CHAR16* UnicodeString;
};
