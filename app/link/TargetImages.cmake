# The five files of a target image folder (MRL_TARGET_IMAGES_DIR): for each,
# the file name, its size in bytes and the C++ object it becomes.
set(MRL_TARGET_IMAGE_FILES
    xip_loader_12_288MHz.bin xip_loader_24_576MHz.bin rf_loader.bin
    belto_ls_gx2_passthrough.bin boot_monitor_notice.bin)
set(MRL_TARGET_IMAGE_SIZES 6926 6926 27648 23162 104)

# Fails with a clear message unless dir holds every file with its size.
function(mrl_check_target_images dir)
  foreach(file size IN ZIP_LISTS MRL_TARGET_IMAGE_FILES MRL_TARGET_IMAGE_SIZES)
    if(NOT EXISTS "${dir}/${file}")
      message(FATAL_ERROR "Target image folder ${dir}: ${file} is missing "
                          "(expected ${size} bytes)")
    endif()
    file(SIZE "${dir}/${file}" actual)
    if(NOT actual EQUAL size)
      message(FATAL_ERROR "Target image folder ${dir}: ${file} has ${actual} bytes, "
                          "expected ${size}")
    endif()
  endforeach()
endfunction()
