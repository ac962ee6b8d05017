# Install-time step, included from an install(CODE) block with these variables set:
#   edi_source       file with @EDI_BIN@ where the programs' installed folder belongs
#   edi_destination  folder to install into (relative: below CMAKE_INSTALL_PREFIX)
#   edi_name         installed file name
#   edi_bin          the programs' folder below CMAKE_INSTALL_PREFIX
#   edi_stage        scratch folder in the build tree
#   edi_cp932        ON: the installed file is converted to code page 932
#   edi_keep         ON: an existing file of that name is left as it is (a site's EDI.ini)
# The folder is known only now: `cmake --install --prefix DIR` may choose another prefix than
# the one configured.
if(NOT IS_ABSOLUTE "${edi_destination}")
    set(edi_destination "${CMAKE_INSTALL_PREFIX}/${edi_destination}")
endif()
cmake_path(SET edi_destination NORMALIZE "${edi_destination}")
string(REGEX REPLACE "/$" "" edi_destination "${edi_destination}")
cmake_path(SET edi_bin_path NORMALIZE "${CMAKE_INSTALL_PREFIX}/${edi_bin}")
string(REGEX REPLACE "/$" "" edi_bin_path "${edi_bin_path}")

if(edi_keep AND EXISTS "$ENV{DESTDIR}${edi_destination}/${edi_name}")
    message(STATUS "Keeping: $ENV{DESTDIR}${edi_destination}/${edi_name}")
else()
    file(READ "${edi_source}" edi_text)
    string(REPLACE "@EDI_BIN@" "${edi_bin_path}" edi_text "${edi_text}")
    file(MAKE_DIRECTORY "${edi_stage}")
    file(WRITE "${edi_stage}/${edi_name}.utf8" "${edi_text}")
    if(edi_cp932)
        execute_process(COMMAND iconv -f UTF-8 -t CP932 -o "${edi_stage}/${edi_name}" "${edi_stage}/${edi_name}.utf8"
                        RESULT_VARIABLE edi_iconv_status)
        if(NOT edi_iconv_status EQUAL 0)
            message(FATAL_ERROR "cannot convert ${edi_source} to code page 932")
        endif()
    else()
        file(RENAME "${edi_stage}/${edi_name}.utf8" "${edi_stage}/${edi_name}")
    endif()
    file(INSTALL "${edi_stage}/${edi_name}" DESTINATION "${edi_destination}"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
