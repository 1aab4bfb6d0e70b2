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
set(VCAMERA_PATCHES "${CMAKE_CURRENT_LIST_DIR}/vcamera-liveview.patch")
if(EXISTS "${VCAMERA_TARBALL}" AND NOT TETHROCAM_TSAN)
  add_custom_command(OUTPUT "${VCAMERA_DIR}/stamp"
    COMMAND "${PROJECT_SOURCE_DIR}/cmake/build-vendor-libgphoto2.sh" "${VCAMERA_TARBALL}" "${VCAMERA_DIR}"
            ${VCAMERA_PATCHES}
    DEPENDS "${VCAMERA_TARBALL}" ${VCAMERA_PATCHES} "${PROJECT_SOURCE_DIR}/cmake/build-vendor-libgphoto2.sh"
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
    "TETHROCAM_VCAMERA_PREFIX=${VCAMERA_PREFIX}")
  if(TARGET vendor_libgphoto2)
    add_dependencies(${t} vendor_libgphoto2)
  endif()
endfunction()
