/* The program's version, in the one place that the string table, the version record and
   fwload-cli --version take it from. Plain C preprocessor: read by the resource compiler too. */
#ifndef FWLOAD_RES_VERSION_H
#define FWLOAD_RES_VERSION_H

#define FWLOAD_VERSION_MAJOR 5
#define FWLOAD_VERSION_MINOR 0
#define FWLOAD_VERSION_MAJOR_TEXT "5"
#define FWLOAD_VERSION_MINOR_TEXT "00"
#define FWLOAD_VERSION_TEXT "5.00"
#define FWLOAD_VERSION_DATE_TEXT "Dec.10.1999."

#endif
