# Firmware tests, registered in the host tree: they boot OVMF under QEMU
# (TCG) with the images of the EFI tree.
# The host half of the end-to-end runs: scenario conversion and PNG output.
if(TARGET kt270sim_core)
  find_package(PNG REQUIRED)
  add_executable(e2e_tool ${CMAKE_CURRENT_LIST_DIR}/host/e2e_tool.cpp)
  target_link_libraries(e2e_tool PRIVATE kt270sim_core PNG::PNG)
  target_compile_options(e2e_tool PRIVATE -Wall -Wextra -Werror)
endif()

set(QUOVAN_EFI_IMAGE_DIR ${CMAKE_SOURCE_DIR}/build/efi CACHE PATH "Where the EFI build leaves its images")

add_test(NAME ovmf_smoke
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/ovmf_smoke.sh
                 --work ${CMAKE_BINARY_DIR}/ovmf/smoke --images ${QUOVAN_EFI_IMAGE_DIR} --timeout 120)
set_tests_properties(ovmf_smoke PROPERTIES TIMEOUT 200 LABELS ovmf)

# The driver as an option ROM: the image built by the mkrom tests.
add_test(NAME ovmf_option_rom
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/ovmf_rom.sh
                 --work ${CMAKE_BINARY_DIR}/ovmf/rom --images ${QUOVAN_EFI_IMAGE_DIR}
                 --rom ${CMAKE_BINARY_DIR}/tools/mkrom/QuovanUga.rom --timeout 120)
set_tests_properties(ovmf_option_rom PROPERTIES TIMEOUT 200 LABELS ovmf FIXTURES_REQUIRED quovan_rom)

# End to end on the model-backed KT270: one boot for every configuration,
# the Shell console through the driver and its screendump.
add_test(NAME ovmf_end_to_end
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/ovmf_e2e.sh
                 --work ${CMAKE_BINARY_DIR}/ovmf/e2e --images ${QUOVAN_EFI_IMAGE_DIR}
                 --tools ${CMAKE_BINARY_DIR}/bin --timeout 300)
set_tests_properties(ovmf_end_to_end PROPERTIES TIMEOUT 400 LABELS ovmf)

# Secure Boot (Debian's OVMF with the snakeoil keys): the unsigned driver
# refused, the signed one accepted once its certificate is in db, from the
# ESP and from the option ROM.
add_test(NAME ovmf_secure_boot
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/ovmf_secureboot.sh
                 --work ${CMAKE_BINARY_DIR}/ovmf/secureboot --images ${QUOVAN_EFI_IMAGE_DIR}
                 --tools ${CMAKE_BINARY_DIR}/bin --rom ${CMAKE_BINARY_DIR}/tools/mkrom/QuovanUga.rom --timeout 120)
set_tests_properties(ovmf_secure_boot PROPERTIES TIMEOUT 300 LABELS ovmf FIXTURES_REQUIRED quovan_rom)

# Debian's GRUB and Linux on our Graphics Output.
include(${CMAKE_CURRENT_LIST_DIR}/clients.cmake)
