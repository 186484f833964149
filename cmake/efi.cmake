# Rules for EFI images: freestanding objects, linked by lld-link with no
# default libraries into a boot-service driver or application.
find_program(QUOVAN_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)

# Built for size: the driver travels compressed in the adapter's option
# ROM. Each function and object in a section of its own, so the linker
# drops what nothing references and folds identical ones.
set(QUOVAN_EFI_OPTIMIZE -Oz CACHE STRING "Optimisation flag of the EFI images")
set(QUOVAN_EFI_COMPILE_FLAGS
    --target=x86_64-unknown-windows -ffreestanding -nostdlibinc -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -mno-red-zone -mno-stack-arg-probe -fno-stack-protector -fshort-wchar
    ${QUOVAN_EFI_OPTIMIZE} -ffunction-sections -fdata-sections
    -Wall -Wextra -Werror -Wglobal-constructors -Wexit-time-destructors)

# The Generic platform gives clang no dependency-file flags: without them
# Ninja would not rebuild an object when a header it includes changes, and
# objects compiled against two layouts of one record would be linked
# together.
set(CMAKE_DEPFILE_FLAGS_C "-MD -MT <DEP_TARGET> -MF <DEP_FILE>")
set(CMAKE_DEPFILE_FLAGS_CXX "-MD -MT <DEP_TARGET> -MF <DEP_FILE>")

set(CMAKE_CXX_LINK_EXECUTABLE
    "${QUOVAN_LLD_LINK} <LINK_FLAGS> /nodefaultlib /machine:x64 /out:<TARGET> <OBJECTS> <LINK_LIBRARIES>")
set(CMAKE_C_LINK_EXECUTABLE ${CMAKE_CXX_LINK_EXECUTABLE})
set(CMAKE_EXECUTABLE_SUFFIX ".efi")

# quovan_efi_image(<target> <subsystem> <entry> sources...)
#   subsystem: efi_boot_service_driver or efi_application
function(quovan_efi_image target subsystem entry)
  add_executable(${target} ${ARGN})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${QUOVAN_EFI_COMPILE_FLAGS})
  target_compile_definitions(${target} PRIVATE QUOVAN_EFI_BUILD=1)
  set_target_properties(${target} PROPERTIES
      LINK_FLAGS "/subsystem:${subsystem} /entry:${entry} /dynamicbase /opt:ref /opt:icf /WX"
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
