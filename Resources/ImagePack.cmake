# The image pack "resources.bin": the artwork generator (a host tool) draws the 31 images and
# packs them. Later targets depend on `tovarek_image_pack` and find the file in
# TOVAREK_IMAGE_PACK_FILE (also the target's TOVAREK_IMAGE_PACK_FILE property).
add_executable(tovarek_generate_artwork ${PROJECT_SOURCE_DIR}/tools/ArtworkGenerator.cpp)
target_include_directories(tovarek_generate_artwork PRIVATE ${PROJECT_SOURCE_DIR}/Source)
target_link_libraries(tovarek_generate_artwork PRIVATE tovarek_juce tovarek_warnings)

set(TOVAREK_IMAGE_PACK_FILE ${CMAKE_CURRENT_BINARY_DIR}/resources.bin CACHE INTERNAL "Generated image pack")
set(tovarek_image_directory ${CMAKE_CURRENT_BINARY_DIR}/images)

add_custom_command(
    OUTPUT ${TOVAREK_IMAGE_PACK_FILE}
    COMMAND tovarek_generate_artwork ${tovarek_image_directory} ${TOVAREK_IMAGE_PACK_FILE}
    DEPENDS tovarek_generate_artwork
    COMMENT "Drawing the artwork and packing resources.bin"
    VERBATIM)
add_custom_target(tovarek_image_pack ALL DEPENDS ${TOVAREK_IMAGE_PACK_FILE})
set_target_properties(tovarek_image_pack PROPERTIES TOVAREK_IMAGE_PACK_FILE ${TOVAREK_IMAGE_PACK_FILE})
