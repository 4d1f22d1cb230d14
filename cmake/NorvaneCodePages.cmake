# `regen_codepages` rewrites the built-in code page tables from the mappings installed on this
# machine (glibc iconv, Python codecs, Perl Encode, ICU). The generated source is committed, so
# ordinary builds never run it.
find_program(NORVANE_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NORVANE_SYSTEM_PYTHON3)
  add_custom_target(regen_codepages
    COMMAND ${NORVANE_SYSTEM_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/codepages/gen_codepages.py
            --out ${PROJECT_SOURCE_DIR}/src/charset/generated
            --report ${PROJECT_SOURCE_DIR}/tools/codepages/SOURCES.md
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Regenerating the built-in code page tables"
    VERBATIM)
endif()
