// The PostgreSQL client library, loaded the first time a PostgreSQL record store is used rather
// than when the program starts: with Kerberos, LDAP, GnuTLS and OpenSSL behind it, it would add
// some 5 MB of resident memory and dozens of libraries to every start of a program that syncs
// through SQLite. The functions the record stores call are defined here with libpq's own
// declarations and forward to the library; without it, each fails as a lost connection would.
#include <libpq-fe.h>

#include <cstdio>
#include <dlfcn.h>
#include <mutex>

namespace {

struct Library {
    void* handle = nullptr;
    char error[256] = "The PostgreSQL client library (libpq.so.5) cannot be loaded\n";
};

Library& library()
{
    static Library lib;
    static std::once_flag once;
    std::call_once(once, [] {
        lib.handle = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!lib.handle) {
            if (const char* why = ::dlerror())
                std::snprintf(lib.error, sizeof lib.error, "The PostgreSQL client library cannot be loaded: %s\n", why);
        }
    });
    return lib;
}

// The library's function `name`, typed as this file's declaration of it, or null.
template <typename F> F* resolve(F*, const char* name)
{
    void* handle = library().handle;
    return handle ? reinterpret_cast<F*>(::dlsym(handle, name)) : nullptr;
}

#define QH_PQ(name) static auto* const real = resolve(&name, #name)

} // namespace

extern "C" {

PGconn* PQconnectStart(const char* conninfo)
{
    QH_PQ(PQconnectStart);
    return real ? real(conninfo) : nullptr;
}

PGconn* PQconnectdb(const char* conninfo)
{
    QH_PQ(PQconnectdb);
    return real ? real(conninfo) : nullptr;
}

PostgresPollingStatusType PQconnectPoll(PGconn* conn)
{
    QH_PQ(PQconnectPoll);
    return real ? real(conn) : PGRES_POLLING_FAILED;
}

void PQfinish(PGconn* conn)
{
    QH_PQ(PQfinish);
    if (real)
        real(conn);
}

ConnStatusType PQstatus(const PGconn* conn)
{
    QH_PQ(PQstatus);
    return real ? real(conn) : CONNECTION_BAD;
}

int PQconsumeInput(PGconn* conn)
{
    QH_PQ(PQconsumeInput);
    return real ? real(conn) : 0;
}

char* PQerrorMessage(const PGconn* conn)
{
    QH_PQ(PQerrorMessage);
    return real ? real(conn) : library().error;
}

int PQsocket(const PGconn* conn)
{
    QH_PQ(PQsocket);
    return real ? real(conn) : -1;
}

PGresult* PQexec(PGconn* conn, const char* query)
{
    QH_PQ(PQexec);
    return real ? real(conn, query) : nullptr;
}

PGresult* PQexecParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                       const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                       int resultFormat)
{
    QH_PQ(PQexecParams);
    return real ? real(conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats, resultFormat)
                : nullptr;
}

ExecStatusType PQresultStatus(const PGresult* res)
{
    QH_PQ(PQresultStatus);
    return real ? real(res) : PGRES_FATAL_ERROR;
}

char* PQresultErrorMessage(const PGresult* res)
{
    QH_PQ(PQresultErrorMessage);
    return real ? real(res) : library().error;
}

char* PQresultErrorField(const PGresult* res, int fieldcode)
{
    QH_PQ(PQresultErrorField);
    return real ? real(res, fieldcode) : nullptr;
}

int PQntuples(const PGresult* res)
{
    QH_PQ(PQntuples);
    return real ? real(res) : 0;
}

char* PQgetvalue(const PGresult* res, int tup_num, int field_num)
{
    QH_PQ(PQgetvalue);
    static char empty[1] = "";
    return real ? real(res, tup_num, field_num) : empty;
}

int PQgetlength(const PGresult* res, int tup_num, int field_num)
{
    QH_PQ(PQgetlength);
    return real ? real(res, tup_num, field_num) : 0;
}

char* PQcmdTuples(PGresult* res)
{
    QH_PQ(PQcmdTuples);
    static char empty[1] = "";
    return real ? real(res) : empty;
}

void PQclear(PGresult* res)
{
    QH_PQ(PQclear);
    if (real)
        real(res);
}

void PQfreemem(void* ptr)
{
    QH_PQ(PQfreemem);
    if (real)
        real(ptr);
}

PQconninfoOption* PQconninfoParse(const char* conninfo, char** errmsg)
{
    QH_PQ(PQconninfoParse);
    if (real)
        return real(conninfo, errmsg);
    if (errmsg)
        *errmsg = nullptr;
    return nullptr;
}

PQconninfoOption* PQconninfo(PGconn* conn)
{
    QH_PQ(PQconninfo);
    return real ? real(conn) : nullptr;
}

void PQconninfoFree(PQconninfoOption* connOptions)
{
    QH_PQ(PQconninfoFree);
    if (real)
        real(connOptions);
}

} // extern "C"
