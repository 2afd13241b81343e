# The Debian package, made with `cpack -G DEB` in a tree configured for /usr (scripts/package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brindle)
set(CPACK_PACKAGE_VENDOR "Brindle developers")
set(CPACK_PACKAGE_CONTACT "Brindle developers <brindle@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# The libraries the programs link, as dpkg-shlibdeps finds them in the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio converter between WAV and MP3")
# The extended description; CPack indents it and marks the empty line for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Brindle converts batches of audio files: WAV, FLAC, AIFF, Ogg Vorbis, Opus,
W64, CAF and RF64 files to MP3, and MPEG audio (MP3, MP2, MP1) to WAV, with
peak or loudness normalisation, ReplayGain tags and tags carried from the
sources. It has a small player, file information and an ID3 tag editor.

brindle-cli runs the same conversions from the command line, for scripts.")
include(CPack)
