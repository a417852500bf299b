# The studio's update key, compiled into the launcher.
#
# GLIMMERHOLD_UPDATE_KEY names PEM files holding the studio's ECDSA P-256
# public keys (glimmerhold-publish --new-key writes them), separated by ";",
# in epoch order: the first is epoch GLIMMERHOLD_UPDATE_KEY_EPOCH (1 unless
# set), the next one epoch after it, and so on. Typically two: the key that
# signs now and the standby kept offline that replaces it. Each key's 64 bytes
# (X then Y) go into the launcher's key table; a launcher built with keys
# installs only what the key of a list's epoch signed. Without one the
# launcher fetches and installs as it always has. A file that is not such a
# key fails the configuration with the reason.
#
# Also runs as a script, to check a file the same way:
#   cmake -DGLIMMERHOLD_UPDATE_KEY=key.pub.pem -P cmake/update_key.cmake

# The DER of every P-256 public key starts with these bytes (the algorithm
# and curve identifiers and the bit string header), then 0x04 and X||Y.
set(_GLIMMERHOLD_P256_SPKI_PREFIX "3059301306072a8648ce3d020106082a8648ce3d030107034200")

# Sets `out_var` to the keys' bytes, 64 for each file in `key_files`, as C
# initialiser text ("0x12, 0x34, ..."); fails with the reason when a file is
# not a P-256 public key.
function(glimmerhold_update_key_bytes key_files out_var)
  set(_all "")
  foreach(key_file IN LISTS key_files)
    _glimmerhold_one_key_bytes("${key_file}" _bytes)
    string(APPEND _all "${_bytes} ")
  endforeach()
  string(STRIP "${_all}" _all)
  set(${out_var} "${_all}" PARENT_SCOPE)
endfunction()

# Fails the configuration when the product (the game's name), the channel or
# the first key's epoch cannot be named in a signed list.
function(glimmerhold_update_identity_check product channel epoch)
  string(LENGTH "${product}" _length)
  if(NOT product MATCHES "^[ -~]+$" OR product MATCHES "^ | $|[\"\\\\]" OR _length GREATER 64)
    message(FATAL_ERROR "GLIMMERHOLD_GAME_NAME \"${product}\": 1 to 64 printable ASCII characters, "
                        "without a quote, a backslash, or a blank at either end")
  endif()
  string(LENGTH "${channel}" _length)
  if(NOT channel MATCHES "^[a-z0-9._-]+$" OR _length GREATER 32)
    message(FATAL_ERROR "GLIMMERHOLD_UPDATE_CHANNEL \"${channel}\": 1 to 32 of a-z, 0-9, \".\", \"_\", \"-\"")
  endif()
  if(NOT epoch MATCHES "^[1-9][0-9]?[0-9]?[0-9]?[0-9]?$" OR epoch GREATER 65535)
    message(FATAL_ERROR "GLIMMERHOLD_UPDATE_KEY_EPOCH \"${epoch}\": a whole number from 1 to 65535")
  endif()
endfunction()

function(_glimmerhold_one_key_bytes key_file out_var)
  if(NOT EXISTS "${key_file}" OR IS_DIRECTORY "${key_file}")
    message(FATAL_ERROR "GLIMMERHOLD_UPDATE_KEY: \"${key_file}\" is not a file")
  endif()
  find_program(GLIMMERHOLD_OPENSSL openssl)
  if(NOT GLIMMERHOLD_OPENSSL)
    message(FATAL_ERROR "GLIMMERHOLD_UPDATE_KEY: the openssl program is needed to read the key (Debian: openssl)")
  endif()
  string(RANDOM LENGTH 12 _suffix)
  set(_der "${CMAKE_CURRENT_BINARY_DIR}/update_key_${_suffix}.der")
  execute_process(
    COMMAND "${GLIMMERHOLD_OPENSSL}" pkey -pubin -in "${key_file}" -outform DER -out "${_der}"
    RESULT_VARIABLE _result ERROR_VARIABLE _error OUTPUT_QUIET)
  if(NOT _result EQUAL 0)
    file(REMOVE "${_der}")
    string(STRIP "${_error}" _error)
    message(FATAL_ERROR "GLIMMERHOLD_UPDATE_KEY: \"${key_file}\" is not a PEM public key "
                        "(give the public half, NAME.pub.pem, never the private key): ${_error}")
  endif()
  file(READ "${_der}" _hex HEX)
  file(REMOVE "${_der}")
  string(LENGTH "${_hex}" _length)
  string(SUBSTRING "${_hex}" 0 52 _prefix)
  if(NOT _length EQUAL 182 OR NOT _prefix STREQUAL _GLIMMERHOLD_P256_SPKI_PREFIX)
    message(FATAL_ERROR "GLIMMERHOLD_UPDATE_KEY: \"${key_file}\" is a public key, but not an uncompressed "
                        "ECDSA P-256 (prime256v1) key; make one with glimmerhold-publish --new-key")
  endif()
  string(SUBSTRING "${_hex}" 54 128 _point)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " _bytes "${_point}")
  string(STRIP "${_bytes}" _bytes)
  set(${out_var} "${_bytes}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  glimmerhold_update_key_bytes("${GLIMMERHOLD_UPDATE_KEY}" _bytes)
  message(STATUS "update key: ${_bytes}")
endif()
