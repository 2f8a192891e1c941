# Debian package of the installed tree: `cpack -G DEB` in a configured build.
# The runtime packages are named explicitly because the program needs some that
# no shared-library scan finds: the Qt platform plugins, the GStreamer plugin
# sets that decode the media files, and the IPAGothic font of the interface.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vurma)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vurma developers")
set(CPACK_PACKAGE_CONTACT "The Vurma developers <vurma@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio spectrum analyser for media files")
set(CPACK_PACKAGE_DESCRIPTION
    "Vurma plays a sound or video file, captures its decoded audio and shows the\n\
waveform, the dB spectrum, the peak and the musical note of any position of\n\
the recording. The spectrum can be saved as a CSV file. Japanese interface.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(VURMA_HOMEPAGE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VURMA_HOMEPAGE}")
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6, libqt6gui6, libqt6core6, qt6-qpa-plugins, \
libgstreamer1.0-0, libgstreamer-plugins-base1.0-0, gstreamer1.0-plugins-base, \
gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-libav, fonts-ipafont-gothic")
# dpkg-shlibdeps adds the versioned library packages the binary links against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
