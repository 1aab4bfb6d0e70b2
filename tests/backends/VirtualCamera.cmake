# libgphoto2's virtual camera, built once per build folder from the untouched source
# release beside the project, with our patches applied to the unpacked copy (live view of
# the Nikon body: vcamera-liveview.patch). Tests only; the program links the system's
# libgphoto2.
# Included from tests/CMakeLists.txt before any test folder, so that every folder can
# run a test against it with tethrocam_use_virtual_camera(<test>) after adding the test.
set(TETHROCAM_VENDOR_DIR "${PROJECT_SOURCE_DIR}/../shared/vendor" CACHE PATH
    "Folder holding libgphoto2-2.5.34.tar.xz for the virtual-camera tests")
set(VCAMERA_TARBALL "${TETHROCAM_VENDOR_DIR}/libgphoto2-2.5.34.tar.xz")
set(VCAMERA_DIR "${CMAKE_BINARY_DIR}/vendor/libgphoto2")
set(VCAMERA_PREFIX "${VCAMERA_DIR}/prefix")
# Our changes to the virtual camera (applied to the unpacked copy, never to the release):
# a card that is full while it holds 26 captured pictures and has room again once one is
# deleted, and scripted RAW files that share a JPEG's number.
set(VCAMERA_PATCH_DIR "${CMAKE_CURRENT_LIST_DIR}/vcamera")
file(GLOB VCAMERA_PATCHES CONFIGURE_DEPENDS "${VCAMERA_PATCH_DIR}/*.patch")
if(EXISTS "${VCAMERA_TARBALL}" AND NOT TETHROCAM_TSAN)
  add_custom_command(OUTPUT "${VCAMERA_DIR}/stamp"
    COMMAND "${PROJECT_SOURCE_DIR}/cmake/build-vendor-libgphoto2.sh" "${VCAMERA_TARBALL}" "${VCAMERA_DIR}"
            "${VCAMERA_PATCH_DIR}"
    DEPENDS "${VCAMERA_TARBALL}" "${PROJECT_SOURCE_DIR}/cmake/build-vendor-libgphoto2.sh" ${VCAMERA_PATCHES}
    COMMENT "Building libgphoto2's virtual camera (once per build folder, about two minutes)"
    USES_TERMINAL)
  add_custom_target(vendor_libgphoto2 ALL DEPENDS "${VCAMERA_DIR}/stamp")
endif()

# Points test `t` (added in the calling folder) at the virtual camera and builds the camera
# first. Without it (no source release, or the ThreadSanitizer build) the test's
# virtual-camera checks skip themselves with the reason.
function(tethrocam_use_virtual_camera t)
  set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT
    "LD_LIBRARY_PATH=${VCAMERA_PREFIX}/lib"
    "CAMLIBS=${VCAMERA_PREFIX}/lib/libgphoto2/2.5.34"
    "IOLIBS=${VCAMERA_PREFIX}/lib/libgphoto2_port/0.12.2"
    "TETHROCAM_VCAMERA_PREFIX=${VCAMERA_PREFIX}"
    # libgphoto2 keeps settings of its own (capture target, autofocus) in a file: the tests'
    # go to the build folder, never to the user's.
    "XDG_CONFIG_HOME=${VCAMERA_DIR}/config-home")
  if(TARGET vendor_libgphoto2)
    add_dependencies(${t} vendor_libgphoto2)
  endif()
endfunction()
