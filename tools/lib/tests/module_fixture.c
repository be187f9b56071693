/* A driver module in miniature: the version record and the module data
 * record that points to it, as an X server module exports them. */
#define JOIN2(a, b) a##b
#define JOIN(a, b) JOIN2(a, b)

typedef struct {
  const char* modname;
  const char* vendor;
  unsigned int modinfo1;
  unsigned int modinfo2;
  unsigned int serverVersion;
  unsigned char majorVersion; /* byte 28 */
  unsigned char minorVersion; /* byte 29 */
  unsigned short patchLevel;  /* bytes 30-31 */
  const char* moduleClass;
} FixtureVersionRec;

typedef struct {
  const FixtureVersionRec* version;
  void* (*setup)(void*);
  void (*teardown)(void*);
} FixtureModuleData;

/* Read-only, so it lands in another section than the module data. */
static const FixtureVersionRec versionRecord = {
    FIXTURE_NAME, "Fixture Maker", 0xef23fdc5u, 0x10dc023au, 0x01150000u,
    FIXTURE_MAJOR, FIXTURE_MINOR, FIXTURE_PATCH, "X.Org Video Driver"};

static void* Setup(void* module) { return module; }

FixtureModuleData JOIN(MODULE_NAME, ModuleData) = {&versionRecord, Setup, 0};
