# The Debian package (cpack, or the "package" target): the library, its development files and
# the Frame Browser, as kiv_VERSION_ARCH.deb. The dependencies are named here rather than
# computed, because the FFmpeg libraries are opened at run time and no tool could find them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kiv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kiv")
set(CPACK_PACKAGE_CONTACT "Kiv developers <kiv@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Media decoding component library and the Frame Browser")
set(CPACK_PACKAGE_DESCRIPTION
  "Kiv opens the FFmpeg libraries at run time and decodes video, audio and pictures, steps\
 forward and backward by frame and key frame and hands pictures out as RGB bitmaps. The\
 Frame Browser shows a media file one picture at a time.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The FFmpeg libraries of the major versions compiled against, Qt 6 with its window-system
# plugins, libjpeg, and the C and C++ runtimes of the build.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libavcodec59, libavformat59, libavutil57, libavfilter8, libavdevice59, libswscale6,\
 libswresample4, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4),\
 qt6-qpa-plugins, libjpeg62-turbo, libstdc++6 (>= 12), libgcc-s1, libc6 (>= 2.36)")
include(CPack)
