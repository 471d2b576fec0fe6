# What every distributable ZIP of a Windows build shares: the time stamp it may carry, the signing of
# its programs, the packing itself, and the release files beside it (SHA256SUMS, the bills of materials).
# Included by each folder that packs a ZIP (its settings are that folder's variables); dist/ writes the
# release files once all are known.
include_guard(DIRECTORY)
get_property(kvx_release_told GLOBAL PROPERTY KVX_RELEASE_TOLD)
set_property(GLOBAL PROPERTY KVX_RELEASE_TOLD TRUE)
find_program(KVX_PYTHON3 NAMES python3 REQUIRED)

# The one time a release carries: that of its commit (SOURCE_DATE_EPOCH, as reproducible-build tools
# expect it), for the ZIP entries and the bills of materials, so that two builds of a commit agree. It is
# read at configure time; a release is a fresh tree configured at its commit. Without git (a source
# tarball) and without the variable: 1980-01-01, the earliest time a ZIP entry can hold.
if("$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(KVX_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
  set(kvx_epoch_origin "from SOURCE_DATE_EPOCH")
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct HEAD
    OUTPUT_VARIABLE KVX_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE kvx_git_rc
    ERROR_QUIET)
  if(kvx_git_rc EQUAL 0 AND KVX_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    set(kvx_epoch_origin "the time of the commit")
  else()
    set(KVX_SOURCE_DATE_EPOCH 315532800)
    set(kvx_epoch_origin "neither a commit nor SOURCE_DATE_EPOCH: 1980-01-01")
  endif()
endif()
if(NOT kvx_release_told)
  message(STATUS "Release time stamp ${KVX_SOURCE_DATE_EPOCH} (${kvx_epoch_origin})")
endif()

# Authenticode signing (osslsigncode, SHA-256). The certificate comes from the environment at configure
# time; its secret (password or PIN) only at build time, so that it never lands in CMakeCache.txt:
#   KVX_SIGN_PKCS12                PKCS#12 file with the certificate chain and the key
#   KVX_SIGN_PKCS12_PASSWORD       its password (build time)
#   KVX_SIGN_PKCS11_MODULE         PKCS#11 module (.so) of a token, with
#   KVX_SIGN_PKCS11_KEY            the key's PKCS#11 URI or id, and
#   KVX_SIGN_PKCS11_CERT           the certificate: a PEM file, or the certificate's PKCS#11 URI or id
#   KVX_SIGN_PKCS11_PIN            the token's PIN (build time)
#   KVX_SIGN_TIMESTAMP_URL         RFC 3161 time-stamping server (build time); without it the signature
#                                  is not time-stamped, and the build says so
# With none of them a throw-away certificate is made in the build tree, so that every build, CI's
# included, signs and verifies exactly as a release does; the package's readme then says that the build
# is test-signed and not for customers. -DKVX_SIGN=OFF packs unsigned programs.
option(KVX_SIGN "Sign the programs of the distributable ZIPs (Authenticode)" ON)
foreach(var KVX_SIGN_PKCS12 KVX_SIGN_PKCS11_MODULE KVX_SIGN_PKCS11_KEY KVX_SIGN_PKCS11_CERT)
  if(NOT "$ENV{${var}}" STREQUAL "")
    set(${var} "$ENV{${var}}" CACHE STRING "" FORCE)
  else()
    set(${var} "" CACHE STRING "")
  endif()
endforeach()

set(KVX_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
set(KVX_SIGN_ARGS)
set(KVX_SIGN_TEST_CA "")
if(NOT KVX_SIGN)
  set(KVX_SIGN_MODE unsigned)
elseif(KVX_SIGN_PKCS12)
  # A relative name is taken from where cmake was started, as a shell user means it.
  get_filename_component(kvx_pkcs12 "${KVX_SIGN_PKCS12}" ABSOLUTE BASE_DIR "$ENV{PWD}")
  if(NOT EXISTS "${kvx_pkcs12}")
    message(FATAL_ERROR "KVX_SIGN_PKCS12: no file ${kvx_pkcs12}")
  endif()
  set(KVX_SIGN_PKCS12 "${kvx_pkcs12}" CACHE STRING "" FORCE)
  set(KVX_SIGN_MODE pkcs12)
  set(KVX_SIGN_ARGS --pkcs12 ${KVX_SIGN_PKCS12})
elseif(KVX_SIGN_PKCS11_MODULE)
  if(NOT KVX_SIGN_PKCS11_KEY OR NOT KVX_SIGN_PKCS11_CERT)
    message(FATAL_ERROR "KVX_SIGN_PKCS11_MODULE needs KVX_SIGN_PKCS11_KEY and KVX_SIGN_PKCS11_CERT")
  endif()
  set(KVX_SIGN_MODE pkcs11)
  set(KVX_SIGN_ARGS --pkcs11-module ${KVX_SIGN_PKCS11_MODULE} --pkcs11-key ${KVX_SIGN_PKCS11_KEY}
                    --pkcs11-cert ${KVX_SIGN_PKCS11_CERT})
else()
  set(KVX_SIGN_MODE test)
  find_program(KVX_OPENSSL NAMES openssl REQUIRED)
  set(KVX_SIGN_TEST_CA ${KVX_SIGNING_DIR}/test-certificate.pem)
  set(kvx_test_key ${KVX_SIGNING_DIR}/test-key.pem)
  # Made once per build tree: a self-signed code-signing certificate nobody else holds or trusts.
  if(NOT EXISTS ${KVX_SIGN_TEST_CA} OR NOT EXISTS ${kvx_test_key})
    file(MAKE_DIRECTORY ${KVX_SIGNING_DIR})
    execute_process(COMMAND ${KVX_OPENSSL} req -x509 -newkey rsa:3072 -sha256 -nodes -days 825
        -subj "/O=Orvex Security/CN=KVXDiag2 TEST SIGNING - NOT FOR CUSTOMERS"
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning"
        -keyout ${kvx_test_key} -out ${KVX_SIGN_TEST_CA}
      RESULT_VARIABLE kvx_openssl_rc OUTPUT_QUIET ERROR_VARIABLE kvx_openssl_err)
    if(NOT kvx_openssl_rc EQUAL 0)
      message(FATAL_ERROR "openssl could not make the test signing certificate: ${kvx_openssl_err}")
    endif()
  endif()
  set(KVX_SIGN_ARGS --certs ${KVX_SIGN_TEST_CA} --key ${kvx_test_key})
endif()
if(NOT KVX_SIGN_MODE STREQUAL "unsigned")
  find_program(KVX_OSSLSIGNCODE NAMES osslsigncode REQUIRED)
endif()
if(NOT kvx_release_told)
  message(STATUS "Signing of the distributable programs: ${KVX_SIGN_MODE}")
endif()

# The stripping of the shipped images. binutils' strip rewrites the whole PE file and stamps the time it
# does so into the header, whatever the linker left there (--no-insert-timestamp: none), unless
# SOURCE_DATE_EPOCH names another; 0 keeps the header as the linker made it.
set(KVX_STRIP_COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_STRIP} --strip-all)

# kvx_sign_commands(OUT_VAR FILE...): the custom-command steps that sign the files in place, empty for an
# unsigned build. They belong after stripping (stripping would break the signature) and before packing.
function(kvx_sign_commands out_var)
  set(steps)
  if(NOT KVX_SIGN_MODE STREQUAL "unsigned")
    set(steps COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/sign-images.sh --osslsigncode ${KVX_OSSLSIGNCODE}
                      ${KVX_SIGN_ARGS} ${ARGN})
  endif()
  set(${out_var} ${steps} PARENT_SCOPE)
endfunction()

# kvx_pack_command(OUT_VAR ZIP STAGE FILE...): the step that packs the stage's files into ZIP with fixed
# entry times, order and attributes (scripts/pack-zip.py).
function(kvx_pack_command out_var zip stage)
  set(${out_var} COMMAND ${KVX_PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/pack-zip.py
                         --epoch ${KVX_SOURCE_DATE_EPOCH} --stage ${stage} --out ${zip} ${ARGN} PARENT_SCOPE)
endfunction()

# kvx_register_release_zip(ZIP TARGET DEBIAN_PACKAGE...): a ZIP for SHA256SUMS and for a bill of
# materials naming the Debian packages whose code it contains (their versions come from dpkg).
function(kvx_register_release_zip zip target)
  string(REPLACE ";" "," packages "${ARGN}")
  set_property(GLOBAL APPEND PROPERTY KVX_RELEASE_ZIPS "${zip}")
  set_property(GLOBAL APPEND PROPERTY KVX_RELEASE_TARGETS "${target}")
  set_property(GLOBAL APPEND PROPERTY KVX_RELEASE_CONTENTS "${packages}")
endfunction()

# The Debian packages whose code every program of a Windows build links statically: the mingw-w64
# runtime and libwinpthread (both from mingw-w64-<arch>-dev), libstdc++ and libgcc.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(kvx_deb_arch x86-64)
else()
  set(kvx_deb_arch i686)
endif()
set(KVX_RUNTIME_PACKAGES
  mingw-w64-${kvx_deb_arch}-dev:mingw-w64-runtime mingw-w64-${kvx_deb_arch}-dev:libwinpthread
  g++-mingw-w64-${kvx_deb_arch}-posix:libstdc++ gcc-mingw-w64-${kvx_deb_arch}-posix:libgcc)
