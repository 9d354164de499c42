#!/usr/bin/perl
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes small MaxMind DB files for Vantor's tests and benchmarks, so no database is ever downloaded:
#   write-test-mmdb.pl DIR          DIR/city.mmdb and DIR/asn.mmdb with a few networks (see below), and
#                                   DIR/city-ipv4.mmdb, an IPv4-only City database

#   write-test-mmdb.pl DIR COUNT    DIR/bench-city.mmdb and DIR/bench-asn.mmdb with COUNT /16 networks from 1.0.0.0
use strict;
use warnings;
use utf8;
use MaxMind::DB::Writer::Tree;

my ($dir, $count) = @ARGV;
die "usage: $0 DIR [COUNT]\n" unless defined $dir && -d $dir;

my %types = (
    country                        => 'map',
    subdivisions                   => ['array', 'map'],
    city                           => 'map',
    names                          => 'map',
    en                             => 'utf8_string',
    'zh-CN'                        => 'utf8_string',
    autonomous_system_number       => 'uint32',
    autonomous_system_organization => 'utf8_string',
);

sub tree {
    my ($type, $ip_version) = @_;
    $ip_version //= 6;
    return MaxMind::DB::Writer::Tree->new(
        ip_version            => $ip_version,
        record_size           => 28,
        database_type         => $type,
        languages             => ['en', 'zh-CN'],
        description           => { en => "Vantor test data ($type)" },
        # The test networks are documentation ranges, which the writer would otherwise leave out.
        remove_reserved_networks => 0,
        alias_ipv6_to_ipv4    => $ip_version == 6 ? 1 : 0,
        map_key_type_callback => sub { $types{ $_[0] } },
    );
}

sub names { my ($en, $zh) = @_; return { names => { en => $en, (defined $zh ? ('zh-CN' => $zh) : ()) } } }

sub write_tree {
    my ($tree, $path) = @_;
    open my $fh, '>:raw', $path or die "$path: $!\n";
    $tree->write_tree($fh);
    close $fh or die "$path: $!\n";
}

my $city = tree('Vantor-Test-City');
my $asn  = tree('Vantor-Test-ASN');

if (!defined $count) {
    # Both languages, with a region.
    $city->insert_network('203.0.113.0/24',
        { country => names('China', '中国'), subdivisions => [names('Shanghai', '上海')], city => names('Shanghai', '上海') });
    # English only; a city name with a comma and quotes.
    $city->insert_network('198.51.100.0/24',
        { country => names('United States'), subdivisions => [names('California')], city => names('San Francisco, "SF"') });
    # IPv6, no region, no ASN entry below.
    $city->insert_network('2001:db8::/32', { country => names('Japan', '日本'), city => names('Tokyo', '东京') });
    # A country and nothing else.
    $city->insert_network('192.0.2.128/25', { country => names('Germany', '德国') });

    $asn->insert_network('203.0.113.0/24',
        { autonomous_system_number => 4134, autonomous_system_organization => 'China Telecom' });
    $asn->insert_network('198.51.100.0/24',
        { autonomous_system_number => 64500, autonomous_system_organization => 'Example, Inc.' });
    write_tree($city, "$dir/city.mmdb");
    write_tree($asn, "$dir/asn.mmdb");

    # IPv4 only: a /24 and a /32.
    my $city4 = tree('Vantor-Test-City', 4);
    $city4->insert_network('203.0.113.0/24', { country => names('China', '中国') });
    $city4->insert_network('198.51.100.9/32', { country => names('United States') });
    write_tree($city4, "$dir/city-ipv4.mmdb");
    exit 0;
}

die "COUNT must be between 1 and 32000\n" unless $count =~ /^\d+$/ && $count >= 1 && $count <= 32000;
my @places = (
    [names('China', '中国'), names('Shanghai', '上海'), names('Shanghai', '上海')],
    [names('China', '中国'), names('Guangdong', '广东'), names('Shenzhen', '深圳')],
    [names('Japan', '日本'), names('Tokyo', '东京都'), names('Tokyo', '东京')],
    [names('United States', '美国'), names('California', '加利福尼亚州'), names('San Jose')],
);
for my $i (0 .. $count - 1) {
    my $network = sprintf('%d.%d.0.0/16', 1 + int($i / 256), $i % 256);
    my $place = $places[$i % @places];
    $city->insert_network($network, { country => $place->[0], subdivisions => [$place->[1]], city => $place->[2] });
    $asn->insert_network($network,
        { autonomous_system_number => 64512 + $i % 1000, autonomous_system_organization => "Network $i" });
}
write_tree($city, "$dir/bench-city.mmdb");
write_tree($asn, "$dir/bench-asn.mmdb");
