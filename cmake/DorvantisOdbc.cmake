# A private ODBC driver registration in the build tree: the FreeTDS driver
# under the name the program's connection string asks for ("SQL Server"),
# without touching the system's odbcinst.ini. Tests and benchmarks point
# ODBCSYSINI at DORVANTIS_ODBCSYSINI.
find_library(TDSODBC_DRIVER NAMES tdsodbc libtdsodbc.so
             PATHS /usr/lib/x86_64-linux-gnu/odbc /usr/lib/odbc /usr/lib64 REQUIRED)
set(DORVANTIS_ODBCSYSINI ${CMAKE_BINARY_DIR}/odbc)
file(MAKE_DIRECTORY ${DORVANTIS_ODBCSYSINI})
file(WRITE ${DORVANTIS_ODBCSYSINI}/odbcinst.ini
     "[SQL Server]\nDescription=FreeTDS for tests and benchmarks\nDriver=${TDSODBC_DRIVER}\n")
file(WRITE ${DORVANTIS_ODBCSYSINI}/odbc.ini "")
