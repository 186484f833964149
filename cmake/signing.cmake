# Authenticode signatures of the driver images, as Secure Boot firmware
# verifies them against its db: QuovanUga.signed.efi and
# QuovanUgaDrawOnly.signed.efi beside the unsigned images. By default the
# build generates a key and certificate of its own for the tests
# (signing/test-key.pem and test-cert.pem, only ever in the build tree);
# an integrator names their own with QUOVAN_SIGN_KEY and QUOVAN_SIGN_CERT
# (`make sign KEY=... CERT=...`). signing/signer.pem is a copy of the
# certificate in force, for the tests that verify and enrol it.
set(QUOVAN_SIGN_KEY "" CACHE FILEPATH "PEM private key that signs the driver images (empty: the build's test key)")
set(QUOVAN_SIGN_CERT "" CACHE FILEPATH "PEM certificate of QUOVAN_SIGN_KEY")
find_program(QUOVAN_SBSIGN sbsign REQUIRED)

set(QUOVAN_SIGN_DIR ${CMAKE_BINARY_DIR}/signing)
file(MAKE_DIRECTORY ${QUOVAN_SIGN_DIR})
if(QUOVAN_SIGN_KEY OR QUOVAN_SIGN_CERT)
  foreach(f QUOVAN_SIGN_KEY QUOVAN_SIGN_CERT)
    if(NOT EXISTS "${${f}}")
      message(FATAL_ERROR "${f} '${${f}}' does not exist (both QUOVAN_SIGN_KEY and QUOVAN_SIGN_CERT are needed)")
    endif()
  endforeach()
  set(sign_key ${QUOVAN_SIGN_KEY})
  set(sign_cert ${QUOVAN_SIGN_CERT})
else()
  find_program(QUOVAN_OPENSSL openssl REQUIRED)
  set(sign_key ${QUOVAN_SIGN_DIR}/test-key.pem)
  set(sign_cert ${QUOVAN_SIGN_DIR}/test-cert.pem)
  add_custom_command(OUTPUT ${sign_key} ${sign_cert}
      COMMAND ${QUOVAN_OPENSSL} req -new -x509 -newkey rsa:2048 -nodes -sha256 -days 3650
              -subj "/CN=Quovan UGA test signing key (not for production)"
              -keyout ${sign_key} -out ${sign_cert}
      COMMENT "Generating the build's test signing key" VERBATIM)
endif()

set(signed_outputs ${QUOVAN_SIGN_DIR}/signer.pem)
add_custom_command(OUTPUT ${QUOVAN_SIGN_DIR}/signer.pem
    COMMAND ${CMAKE_COMMAND} -E copy ${sign_cert} ${QUOVAN_SIGN_DIR}/signer.pem
    DEPENDS ${sign_cert} VERBATIM)
foreach(image QuovanUga QuovanUgaDrawOnly)
  set(out ${CMAKE_BINARY_DIR}/${image}.signed.efi)
  # USES_TERMINAL: an integrator's key may ask for its passphrase.
  add_custom_command(OUTPUT ${out}
      COMMAND ${QUOVAN_SBSIGN} --key ${sign_key} --cert ${sign_cert} --output ${out} $<TARGET_FILE:${image}>
      DEPENDS ${image} ${sign_key} ${sign_cert}
      COMMENT "Signing ${image}.efi" USES_TERMINAL VERBATIM)
  list(APPEND signed_outputs ${out})
endforeach()
add_custom_target(quovan_signed ALL DEPENDS ${signed_outputs})
