/* The release an image was built from, the same one every tool's --version
 * and the packages name: "tivfw version X.Y.Z" in the image's data, where
 * `strings` or a search of the flash finds it. The link keeps it (-u) though
 * no code reads it. */
#ifndef TIV_VERSION
#error "TIV_VERSION comes from the build (the project's version)"
#endif

/* used: EDK II's link-time-optimised build would drop an object nothing reads. */
__attribute__((used)) const char TivImageVersion[] = "tivfw version " TIV_VERSION;
