# The runs with clients that nobody here wrote (Debian's GRUB and Linux) on
# our Graphics Output, registered in the host tree: their host tool, the
# clients themselves (fetched once into the build tree) and the test.
find_package(PNG REQUIRED)
add_executable(client_tool ${CMAKE_CURRENT_LIST_DIR}/host/client_tool.cpp)
target_link_libraries(client_tool PRIVATE PNG::PNG)
target_compile_options(client_tool PRIVATE -Wall -Wextra -Werror)

set(QUOVAN_CLIENTS_DIR ${CMAKE_BINARY_DIR}/clients)
set(clients_src ${CMAKE_CURRENT_LIST_DIR}/clients)
add_custom_command(
  OUTPUT ${QUOVAN_CLIENTS_DIR}/grubx64.efi ${QUOVAN_CLIENTS_DIR}/vmlinuz.efi ${QUOVAN_CLIENTS_DIR}/initrd.img
  COMMAND ${clients_src}/prepare.sh ${QUOVAN_CLIENTS_DIR}
  DEPENDS ${clients_src}/prepare.sh ${clients_src}/grub.cfg ${clients_src}/init
  COMMENT "GRUB made standalone, Debian's kernel image and the busybox initramfs for the client runs"
  VERBATIM)
add_custom_target(quovan_clients ALL
  DEPENDS ${QUOVAN_CLIENTS_DIR}/grubx64.efi ${QUOVAN_CLIENTS_DIR}/vmlinuz.efi ${QUOVAN_CLIENTS_DIR}/initrd.img)

# GRUB and Linux set-up A in one boot, Linux set-up B in two.
add_test(NAME ovmf_clients
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/ovmf_clients.sh
                 --work ${CMAKE_BINARY_DIR}/ovmf/clients --images ${QUOVAN_EFI_IMAGE_DIR}
                 --tools ${CMAKE_BINARY_DIR}/bin --clients ${QUOVAN_CLIENTS_DIR} --timeout 150)
set_tests_properties(ovmf_clients PROPERTIES TIMEOUT 480 LABELS ovmf)
