// The resources themselves are compiled in by qt_add_resources; this unit gives the library a body.
namespace pelnavi_resources_anchor {
int anchor = 0;
}
