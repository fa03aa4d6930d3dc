# Brings the whisper.cpp recogniser (with ggml) into the build tree at configure time.
# The source comes from an npm package that carries it; nothing of it is committed.
# The tarball is checked against the package's published SHA-512 integrity before it
# is unpacked, and an unpacked tree with a matching stamp is reused as it is.

set(PELORA_WHISPER_PACKAGE "nodejs-whisper@0.3.1")
set(PELORA_WHISPER_TARBALL "nodejs-whisper-0.3.1.tgz")
# npm integrity sha512-ceoilUVraRuR5FnNyXpGQT2auAR48Oc3AQBEmkXnVpSn9iN6yVRzQBFCqVTGWbk6Wdi95NhvwXNzFvuR7erLWw==
set(PELORA_WHISPER_SHA512
  "71ea2295456b691b91e459cdc97a46413d9ab80478f0e7370100449a45e75694a7f6237ac95473401142a954c659b93a59d8bde4d86fc1737316fb91edeacb5b")

set(PELORA_WHISPER_ROOT "${CMAKE_BINARY_DIR}/_deps/nodejs-whisper-0.3.1")
set(PELORA_WHISPER_SOURCE_DIR "${PELORA_WHISPER_ROOT}/package/cpp/whisper.cpp")
set(stamp "${PELORA_WHISPER_ROOT}/integrity.stamp")

set(unpacked FALSE)
if(EXISTS "${stamp}" AND EXISTS "${PELORA_WHISPER_SOURCE_DIR}/CMakeLists.txt")
  file(READ "${stamp}" stamped)
  if(stamped STREQUAL PELORA_WHISPER_SHA512)
    set(unpacked TRUE)
  endif()
endif()

if(NOT unpacked)
  find_program(PELORA_NPM npm REQUIRED)
  set(download "${CMAKE_BINARY_DIR}/_deps/download")
  file(REMOVE_RECURSE "${PELORA_WHISPER_ROOT}" "${download}")
  file(MAKE_DIRECTORY "${download}")
  message(STATUS "Fetching whisper.cpp source: npm pack ${PELORA_WHISPER_PACKAGE}")
  execute_process(
    COMMAND "${PELORA_NPM}" pack "${PELORA_WHISPER_PACKAGE}" --silent --pack-destination "${download}"
    WORKING_DIRECTORY "${download}"
    RESULT_VARIABLE npm_result
    OUTPUT_QUIET
    ERROR_VARIABLE npm_error)
  set(tarball "${download}/${PELORA_WHISPER_TARBALL}")
  if(NOT npm_result EQUAL 0 OR NOT EXISTS "${tarball}")
    message(FATAL_ERROR "npm pack ${PELORA_WHISPER_PACKAGE} failed (${npm_result}): ${npm_error}")
  endif()
  file(SHA512 "${tarball}" actual)
  if(NOT actual STREQUAL PELORA_WHISPER_SHA512)
    file(REMOVE_RECURSE "${download}")
    message(FATAL_ERROR "${PELORA_WHISPER_TARBALL} does not match its integrity hash (got ${actual})")
  endif()
  file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${PELORA_WHISPER_ROOT}")
  if(NOT EXISTS "${PELORA_WHISPER_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "${PELORA_WHISPER_TARBALL} holds no whisper.cpp source tree")
  endif()
  file(WRITE "${stamp}" "${PELORA_WHISPER_SHA512}")
  file(REMOVE_RECURSE "${download}")
endif()

# Static, CPU only, portable x86-64 with AVX2 (not tuned to the build machine), and
# only the libraries: no examples, tests, server or GPU back ends.
set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
set(BUILD_SHARED_LIBS OFF)
set(WHISPER_BUILD_EXAMPLES OFF)
set(WHISPER_BUILD_TESTS OFF)
set(WHISPER_BUILD_SERVER OFF)
set(WHISPER_ALL_WARNINGS OFF)
set(WHISPER_CURL OFF)
set(WHISPER_SDL2 OFF)
set(GGML_ALL_WARNINGS OFF)
set(GGML_CCACHE OFF)
set(GGML_NATIVE OFF)
set(GGML_SSE42 ON)
set(GGML_AVX ON)
set(GGML_AVX2 ON)
set(GGML_BMI2 ON)
set(GGML_FMA ON)
set(GGML_F16C ON)
set(GGML_AVX512 OFF)
set(GGML_CUDA OFF)
set(GGML_VULKAN OFF)
set(GGML_METAL OFF)
set(GGML_OPENCL OFF)
set(GGML_BLAS OFF)
set(GGML_BACKEND_DL OFF)
# ggml's own thread pool sleeps when idle; OpenMP workers would keep spinning beside the
# rest of the program after each run.
set(GGML_OPENMP OFF)
set(GGML_CPU_ALL_VARIANTS OFF)

add_subdirectory("${PELORA_WHISPER_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/whisper-build" EXCLUDE_FROM_ALL SYSTEM)

# Third-party code: no warnings of ours and none of its own in our build log.
foreach(target whisper ggml ggml-base ggml-cpu)
  if(TARGET ${target})
    target_compile_options(${target} PRIVATE -w)
  endif()
endforeach()
