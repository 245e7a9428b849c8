// Prints the OME-XML of the image that fills every field, for the check against OME's schema.
#include <cstdio>

#include "every_field_image.h"

int main() {
    std::fputs(ome::omeXml(everyFieldImage()).c_str(), stdout);
    return 0;
}
