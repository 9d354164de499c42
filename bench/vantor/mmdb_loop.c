/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The least a program can do for what vantor-cli --ip-info-format mmdb does: one address a line from standard
 * input, MMDB_lookup_string in the City and the ASN database, the same values read (country, first subdivision
 * and city names in zh-CN else en, the ASN organisation), one line written per address.
 * Usage: vantor-mmdb-loop CITY.mmdb ASN.mmdb < addresses > /dev/null */
#include <maxminddb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void put(const MMDB_entry_data_s* data, char end)
{
    if (data && data->data_size > 0)
        fwrite(data->utf8_string, 1, data->data_size, stdout);
    putchar(end);
}

/* The text at the path, or NULL. */
static int text(MMDB_entry_s* entry, const char* const* path, MMDB_entry_data_s* data)
{
    return MMDB_aget_value(entry, data, path) == MMDB_SUCCESS && data->has_data
        && data->type == MMDB_DATA_TYPE_UTF8_STRING && data->data_size > 0;
}

/* names.zh-CN, else names.en, below the path of one or two steps. */
static void name(MMDB_entry_s* entry, const char* first, const char* second)
{
    static const char* const languages[] = { "zh-CN", "en" };
    MMDB_entry_data_s data;
    for (int i = 0; i < 2; ++i) {
        const char* path[5] = { first, second ? second : "names", second ? "names" : languages[i],
                                second ? languages[i] : NULL, NULL };
        if (text(entry, path, &data)) {
            put(&data, '\t');
            return;
        }
    }
    put(NULL, '\t');
}

int main(int argc, char** argv)
{
    MMDB_s city;
    MMDB_s asn;
    if (argc != 3 || MMDB_open(argv[1], MMDB_MODE_MMAP, &city) != MMDB_SUCCESS
        || MMDB_open(argv[2], MMDB_MODE_MMAP, &asn) != MMDB_SUCCESS) {
        fprintf(stderr, "usage: vantor-mmdb-loop CITY.mmdb ASN.mmdb < addresses\n");
        return 2;
    }
    char* line = NULL;
    size_t capacity = 0;
    ssize_t length;
    static const char* const organisation[] = { "autonomous_system_organization", NULL };
    while ((length = getline(&line, &capacity, stdin)) > 0) {
        if (line[length - 1] == '\n')
            line[length - 1] = '\0';
        int gai = 0;
        int error = 0;
        MMDB_lookup_result_s found = MMDB_lookup_string(&city, line, &gai, &error);
        if (gai != 0 || error != MMDB_SUCCESS || !found.found_entry) {
            printf("%s\n", line);
            continue;
        }
        fputs(line, stdout);
        putchar('\t');
        name(&found.entry, "country", NULL);
        name(&found.entry, "subdivisions", "0");
        name(&found.entry, "city", NULL);
        MMDB_lookup_result_s as = MMDB_lookup_string(&asn, line, &gai, &error);
        MMDB_entry_data_s data;
        put(error == MMDB_SUCCESS && as.found_entry && text(&as.entry, organisation, &data) ? &data : NULL, '\n');
    }
    free(line);
    MMDB_close(&city);
    MMDB_close(&asn);
    return 0;
}
