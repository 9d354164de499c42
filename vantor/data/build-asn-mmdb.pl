#!/usr/bin/perl
# SPDX-License-Identifier: GPL-3.0-or-later
# build-asn-mmdb.pl OUT EPOCH CSV...: writes OUT, a MaxMind DB file in the GeoLite2-ASN layout
# (autonomous_system_number, autonomous_system_organization), from CSV files of "first,last,asn,organisation" rows
# (IPv4 and IPv6 alike), with EPOCH as its build_epoch so that the same input always gives the same bytes.
# The same files every time: Perl orders a hash's keys at random, and the writer stores maps in that order.
BEGIN {
    if (($ENV{PERL_HASH_SEED} // '') ne '0') {
        $ENV{PERL_HASH_SEED} = 0;
        $ENV{PERL_PERTURB_KEYS} = 0;
        exec $^X, $0, @ARGV or die "$^X: $!\n";
    }
}
use strict;
use warnings;
use MaxMind::DB::Writer::Tree;
use Socket qw(inet_pton AF_INET AF_INET6);
use Text::CSV_XS;

my ($out, $epoch, @csvs) = @ARGV;
die "usage: $0 OUT EPOCH CSV...\n" unless defined $out && defined $epoch && $epoch =~ /^\d+$/ && @csvs;

my %types = (
    autonomous_system_number       => 'uint32',
    autonomous_system_organization => 'utf8_string',
);
my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version               => 6,
    record_size              => 28,
    database_type            => 'GeoLite2-ASN',
    languages                => ['en'],
    description              => { en => 'Vantor ASN data from RouteViews, DB-IP and NRO (ip-location-db)' },
    remove_reserved_networks => 0,
    alias_ipv6_to_ipv4       => 1,
    map_key_type_callback    => sub { $types{ $_[0] } },
);
$tree->_set_build_epoch($epoch);

# The IPv6 ranges the writer points at the IPv4 tree (IPv4-mapped, Teredo, 6to4): it refuses networks inside them.
my @aliased = map { [ map { inet_pton(AF_INET6, $_) } @$_ ] } (
    [ '::ffff:0:0',  '::ffff:ffff:ffff' ],
    [ '2001::',      '2001:0:ffff:ffff:ffff:ffff:ffff:ffff' ],
    [ '2002::',      '2002:ffff:ffff:ffff:ffff:ffff:ffff:ffff' ],
);

my ($rows, $skipped) = (0, 0);
my $csv = Text::CSV_XS->new({ binary => 1, auto_diag => 2, strict => 1 });
for my $path (@csvs) {
    open my $fh, '<:encoding(UTF-8)', $path or die "$path: $!\n";
    while (my $row = $csv->getline($fh)) {
        my ($first, $last, $asn, $organisation) = @$row;
        die "$path line $.: no AS number in '$asn'\n" unless $asn =~ /^\d+$/ && $asn < 2**32;
        if ($first =~ /:/) {
            my ($low, $high) = map { inet_pton(AF_INET6, $_) // die "$path line $.: bad address '$_'\n" } $first, $last;
            if (grep { $low le $_->[1] && $high ge $_->[0] } @aliased) {
                $skipped++;
                next;
            }
        }
        else {
            defined inet_pton(AF_INET, $_) or die "$path line $.: bad address '$_'\n" for $first, $last;
        }
        my %record = (autonomous_system_number => $asn + 0);
        $record{autonomous_system_organization} = $organisation if length $organisation;
        $tree->insert_range($first, $last, \%record);
        $rows++;
    }
    close $fh;
}
die "no rows in @csvs\n" unless $rows;

open my $fh, '>:raw', "$out.tmp" or die "$out.tmp: $!\n";
$tree->write_tree($fh);
close $fh or die "$out.tmp: $!\n";
rename "$out.tmp", $out or die "$out: $!\n";
print "$out: $rows ranges, $skipped IPv6 ranges inside the IPv4 aliases left out\n";
