# The product's name, maker and version, read from the one place the
# programs take them from (wwlib/Product.h), and the version resource of a
# target made from resources/VersionInfo.rc.in.
file(READ ${CMAKE_SOURCE_DIR}/wwlib/Product.h quendal_product_h)
string(REGEX MATCH "kName = L\"([^\"]+)\"" _ "${quendal_product_h}")
set(QUENDAL_PRODUCT ${CMAKE_MATCH_1})
string(REGEX MATCH "kMakerPrefix = L\"([^\" ]+) ?\"" _ "${quendal_product_h}")
set(QUENDAL_COMPANY ${CMAKE_MATCH_1})
string(REGEX MATCH "kVersion = L\"(([0-9]+)\\.([0-9]+))\"" _ "${quendal_product_h}")
set(QUENDAL_VERSION ${CMAKE_MATCH_1})
set(QUENDAL_VERSION_MAJOR ${CMAKE_MATCH_2})
set(QUENDAL_VERSION_MINOR ${CMAKE_MATCH_3})
string(REGEX MATCH "kWebAddress = L\"([^\"]+)\"" _ "${quendal_product_h}")
set(QUENDAL_WEB_ADDRESS ${CMAKE_MATCH_1})
if(NOT QUENDAL_PRODUCT OR NOT QUENDAL_COMPANY OR NOT QUENDAL_VERSION OR NOT QUENDAL_WEB_ADDRESS)
    message(FATAL_ERROR "wwlib/Product.h: product name, maker, version or web address not found")
endif()
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/wwlib/Product.h)

# quendal_version_resource(TARGET FILE_NAME DESCRIPTION): adds a version
# resource naming FILE_NAME (as the file is installed) to TARGET.
function(quendal_version_resource target file_name description)
    set(QUENDAL_ORIGINAL_FILENAME ${file_name})
    set(QUENDAL_FILE_DESCRIPTION ${description})
    get_filename_component(QUENDAL_INTERNAL_NAME ${file_name} NAME_WE)
    if(file_name MATCHES "\\.dll$")
        set(QUENDAL_FILE_TYPE VFT_DLL)
    else()
        set(QUENDAL_FILE_TYPE VFT_APP)
    endif()
    set(rc ${CMAKE_BINARY_DIR}/version/${file_name}.rc)
    configure_file(${CMAKE_SOURCE_DIR}/resources/VersionInfo.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
