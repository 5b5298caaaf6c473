# JPEG and PNG codecs for the win32 build: placeholder until the cross-built
# libraries are wired in.
add_library(JPEG::JPEG INTERFACE IMPORTED)
add_library(PNG::PNG INTERFACE IMPORTED)
