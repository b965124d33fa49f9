# The two Debian packages, made by `cpack -G DEB` in a native build: one per
# install component (cmake/packaging/install.cmake), with the libraries they
# need found by dpkg-shlibdeps (the program's and those of its two view
# modules in /usr/lib/quorvanta/views). tests/package/ installs them into a fresh
# Debian 12 root and purges them again.
set(CPACK_PACKAGE_NAME quorvanta)
set(CPACK_PACKAGE_VERSION ${QV_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvanta developers")
set(CPACK_PACKAGE_CONTACT "The Quorvanta developers <dev@quorvanta.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quorvanta.org/")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL quorvanta quorvanta-sim)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_QUORVANTA_PACKAGE_NAME quorvanta)
set(CPACK_DEBIAN_QUORVANTA-SIM_PACKAGE_NAME quorvanta-sim)
# The desktop view draws Japanese in IPA P Gothic where no MS P Gothic is
# installed; the libraries of both views come from dpkg-shlibdeps.
set(CPACK_DEBIAN_QUORVANTA_PACKAGE_RECOMMENDS fonts-ipafont-gothic)
# quorvanta-sim run starts the quorvanta installed beside it.
set(CPACK_DEBIAN_QUORVANTA-SIM_PACKAGE_DEPENDS "quorvanta (= ${QV_VERSION})")
set(CPACK_DEBIAN_QUORVANTA-SIM_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_QUORVANTA_DESCRIPTION
    "firmware updater for VANTROS USB CD-R/RW drives
Quorvanta finds the VANTROS USB CD-R/RW drives of the models T71 and R305,
shows their firmware revisions, checks a firmware package and writes the
firmware into the chosen drive over SCSI, through the kernel's SCSI generic
driver (sg). It shows its dialogs on the desktop (X11), in a terminal, or
runs headless with a scripted user.")
set(CPACK_COMPONENT_QUORVANTA-SIM_DESCRIPTION
    "virtual PCs with emulated drives for rehearsing Quorvanta updates
quorvanta-sim makes, inspects and runs virtual PCs: directories that stand
for a whole computer with emulated VANTROS drives and a firmware package,
on which quorvanta runs a whole update in virtual time. It also writes test
firmware packages.")

include(CPack)
