# Authenticode signing of what ships: the installer and every program and
# library of its package, each signed right after it is linked, so that the
# package is packed from signed files and installs them signed.
#
# Either a certificate and key (the release's, or the test certificate that
# the Makefile makes when none is given) or a folder of a release's own
# signatures to attach (tools/check-release.sh). Neither: nothing is signed.
set(QUENDAL_SIGN_CERT "" CACHE FILEPATH "PEM certificate (with its chain) to sign with")
set(QUENDAL_SIGN_KEY "" CACHE STRING "PEM private key of that certificate, or a PKCS#11 URI (pkcs11:...) of a key in a token")
set(QUENDAL_PKCS11_MODULE "" CACHE FILEPATH "The token's PKCS#11 module, for a key given as a PKCS#11 URI")
set(QUENDAL_PKCS11_ENGINE "" CACHE FILEPATH "OpenSSL's PKCS#11 engine; none: osslsigncode's default")
set(QUENDAL_SIGN_PASS_FILE "" CACHE FILEPATH "File holding the key's password, if it has one")
set(QUENDAL_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server; none: the signing time is SOURCE_DATE_EPOCH")
set(QUENDAL_SIGN_CA "" CACHE FILEPATH "CA certificate the build's verification trusts; none: the system's")
set(QUENDAL_SIGNATURES "" CACHE PATH "A release's signatures to attach instead of signing (<dir>/x86, <dir>/x64)")
set(QUENDAL_SOURCE_DATE_EPOCH "" CACHE STRING "Signing time (Unix time) when there is no timestamp server")

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(quendal_arch x64)
else()
    set(quendal_arch x86)
endif()

set(QUENDAL_SIGNING OFF)
set(QUENDAL_SIGNING_CONFIG ${CMAKE_BINARY_DIR}/signing.conf)
if(QUENDAL_SIGNATURES)
    set(QUENDAL_SIGNING ON)
    set(signing_lines "signatures=${QUENDAL_SIGNATURES}/${quendal_arch}\nca=${QUENDAL_SIGN_CA}\n")
elseif(QUENDAL_SIGN_CERT OR QUENDAL_SIGN_KEY)
    set(files QUENDAL_SIGN_CERT)
    if(QUENDAL_SIGN_KEY MATCHES "^pkcs11:")
        if(NOT QUENDAL_PKCS11_MODULE)
            message(FATAL_ERROR "QUENDAL_SIGN_KEY names a key in a token: QUENDAL_PKCS11_MODULE must name its module")
        endif()
        list(APPEND files QUENDAL_PKCS11_MODULE)
    else()
        list(APPEND files QUENDAL_SIGN_KEY)
    endif()
    foreach(file ${files})
        if(NOT EXISTS "${${file}}")
            message(FATAL_ERROR "${file}: '${${file}}' does not exist")
        endif()
    endforeach()
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    set(QUENDAL_SIGNING ON)
    # The certificate's digest is part of the configuration: another
    # certificate under the same name signs everything again.
    file(SHA256 ${QUENDAL_SIGN_CERT} cert_digest)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QUENDAL_SIGN_CERT})
    set(signing_lines "cert=${QUENDAL_SIGN_CERT}\ncert_sha256=${cert_digest}\nkey=${QUENDAL_SIGN_KEY}\n")
    string(APPEND signing_lines "pass_file=${QUENDAL_SIGN_PASS_FILE}\ntimestamp_url=${QUENDAL_TIMESTAMP_URL}\n")
    string(APPEND signing_lines "signing_time=${QUENDAL_SOURCE_DATE_EPOCH}\n")
    string(APPEND signing_lines "pkcs11_module=${QUENDAL_PKCS11_MODULE}\npkcs11_engine=${QUENDAL_PKCS11_ENGINE}\n")
    string(APPEND signing_lines "description=${QUENDAL_COMPANY} ${QUENDAL_PRODUCT} ${QUENDAL_VERSION}\n")
    string(APPEND signing_lines "url=${QUENDAL_WEB_ADDRESS}\n")
endif()
if(QUENDAL_SIGNING)
    # Written only when it changes, so an unchanged configuration relinks nothing.
    file(CONFIGURE OUTPUT ${QUENDAL_SIGNING_CONFIG} CONTENT "${signing_lines}")
endif()

# quendal_sign(TARGET): signs TARGET's file each time it is linked.
function(quendal_sign target)
    if(QUENDAL_SIGNING)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_SOURCE_DIR}/tools/sign.sh ${QUENDAL_SIGNING_CONFIG} $<TARGET_FILE:${target}>
            VERBATIM)
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QUENDAL_SIGNING_CONFIG})
    endif()
endfunction()
