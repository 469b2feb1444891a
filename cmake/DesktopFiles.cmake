# Names and places of the files that make Quellmere a desktop application,
# shared by the install rules and their tests.

# Reverse-DNS name of the project's address, github.com/quellmere/quellmere.
set(QUELLMERE_APP_ID io.github.quellmere.Quellmere)
set(QUELLMERE_ICON_SIZES 16 32 48 64 128 256)
set(QUELLMERE_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(QUELLMERE_ICON_SVG ${QUELLMERE_DATA_DIR}/icons/hicolor/scalable/apps/${QUELLMERE_APP_ID}.svg)
set(QUELLMERE_GENERATED_DATA_DIR ${PROJECT_BINARY_DIR}/data)
set(QUELLMERE_DESKTOP_FILE ${QUELLMERE_GENERATED_DATA_DIR}/${QUELLMERE_APP_ID}.desktop)
set(QUELLMERE_METAINFO_FILE ${QUELLMERE_GENERATED_DATA_DIR}/${QUELLMERE_APP_ID}.metainfo.xml)
set(QUELLMERE_MAN_PAGE ${QUELLMERE_GENERATED_DATA_DIR}/quellmere-cli.1)
