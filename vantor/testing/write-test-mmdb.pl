#!/usr/bin/perl
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes small MaxMind DB files for Vantor's tests and benchmarks, so no database is ever downloaded:
#   write-test-mmdb.pl DIR          DIR/city.mmdb and DIR/asn.mmdb with a few networks (see below), and
#                                   DIR/city-ipv4.mmdb, an IPv4-only City database

#   write-test-mmdb.pl DIR COUNT    DIR/bench-city.mmdb and DIR/bench-asn.mmdb with COUNT /16 networks from 1.0.0.0
#                                   that share 4,000 City records, as a real database's networks share their city's
#   write-test-mmdb.pl DIR varied [SEED]
#                                   DIR/varied-city.mmdb, DIR/varied-asn.mmdb and DIR/varied-city-ipv4.mmdb with
#                                   networks of every length whose records have every shape a reader must take,
#                                   DIR/varied-flat-ipv4.mmdb and DIR/varied-flat-ipv6.mmdb with the same networks
#                                   in the flat layout, one file per family, and DIR/varied-addresses, addresses in
#                                   and around them, one a line
#   write-test-mmdb.pl DIR flat     the flat layout (country_code, state1, city): DIR/flat-ipv4.mmdb (IPv4 only),
#                                   DIR/flat-ipv6.mmdb (IPv6 networks only) and DIR/flat-country.mmdb (country_code
#                                   only, both families in one file, as the bundled country database); see below
#   write-test-mmdb.pl DIR public   DIR/public-city.mmdb and DIR/public-asn.mmdb with a few public networks
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
use utf8;
use MaxMind::DB::Writer::Tree;
use Socket ();

my ($dir, $count, $seed) = @ARGV;
die "usage: $0 DIR [COUNT | flat | public | varied [SEED]]\n" unless defined $dir && -d $dir;

my %types = (
    country                        => 'map',
    subdivisions                   => ['array', 'map'],
    city                           => 'map',
    names                          => 'map',
    en                             => 'utf8_string',
    'zh-CN'                        => 'utf8_string',
    autonomous_system_number       => 'uint32',
    autonomous_system_organization => 'utf8_string',
    # Members the varied records carry beside the names, which a reader must step over.
    geoname_id                     => 'uint32',
    is_in_european_union           => 'boolean',
    location                       => 'map',
    latitude                       => 'double',
    time_zone                      => 'utf8_string',
    nested                         => ['array', 'map'],
    depth                          => 'uint16',
);
# The flat layout's members, where `city` is a text.
my %flat_types = (
    country_code => 'utf8_string',
    state1       => 'utf8_string',
    state2       => 'utf8_string',
    city         => 'utf8_string',
    postcode     => 'utf8_string',
    latitude     => 'double',
    longitude    => 'double',
    timezone     => 'utf8_string',
);

sub tree {
    my ($type, $ip_version, $flat, $alias) = @_;
    $ip_version //= 6;
    $alias //= $ip_version == 6 ? 1 : 0;
    return MaxMind::DB::Writer::Tree->new(
        ip_version            => $ip_version,
        record_size           => $flat ? 24 : 28,
        database_type         => $type,
        languages             => ['en', 'zh-CN'],
        description           => { en => "Vantor test data ($type)" },
        # The test networks are documentation ranges, which the writer would otherwise leave out.
        remove_reserved_networks => 0,
        alias_ipv6_to_ipv4    => $alias,
        map_key_type_callback => $flat ? sub { $flat_types{ $_[0] } } : sub { $types{ $_[0] } },
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
    $city->insert_network('142.250.7.0/24',
        { country => names('China', '中国'), subdivisions => [names('Shanghai', '上海')], city => names('Shanghai', '上海') });
    # English only; a city name with a comma and quotes.
    $city->insert_network('151.101.65.0/24',
        { country => names('United States'), subdivisions => [names('California')], city => names('San Francisco, "SF"') });
    # IPv6, no region, no ASN entry below.
    $city->insert_network('2001:67c::/32', { country => names('Japan', '日本'), city => names('Tokyo', '东京') });
    # A country and nothing else.
    $city->insert_network('81.2.69.128/25', { country => names('Germany', '德国') });

    $asn->insert_network('142.250.7.0/24',
        { autonomous_system_number => 4134, autonomous_system_organization => 'China Telecom' });
    $asn->insert_network('151.101.65.0/24',
        { autonomous_system_number => 64500, autonomous_system_organization => 'Example, Inc.' });
    write_tree($city, "$dir/city.mmdb");
    write_tree($asn, "$dir/asn.mmdb");

    # IPv4 only: a /24 and a /32.
    my $city4 = tree('Vantor-Test-City', 4);
    $city4->insert_network('142.250.7.0/24', { country => names('China', '中国') });
    $city4->insert_network('151.101.65.9/32', { country => names('United States') });
    write_tree($city4, "$dir/city-ipv4.mmdb");
    exit 0;
}

if ($count eq 'flat') {
    # Regions and cities in English, as DB-IP publishes them; the country's name is the reader's to find.
    my $flat4 = tree('Vantor-Test-Flat-City', 4, 1);
    $flat4->insert_network('1.1.1.0/24', { country_code => 'AU', state1 => 'Queensland', city => 'South Brisbane',
        latitude => -27.4766, longitude => 153.0166 });
    # A code iso-codes does not know, a city with a comma and quotes, and no region.
    $flat4->insert_network('9.9.9.0/24', { country_code => 'ZZ', city => 'Nowhere, "Q"' });
    $flat4->insert_network('81.2.69.0/24', { country_code => 'GB', state1 => 'England', state2 => 'Greater London',
        city => 'London', postcode => 'EC1A', timezone => 'Europe/London' });
    write_tree($flat4, "$dir/flat-ipv4.mmdb");

    # IPv6 networks only: nothing below ::/96.
    my $flat6 = tree('Vantor-Test-Flat-City', 6, 1, 0);
    $flat6->insert_network('2606:4700::/32', { country_code => 'US', state1 => 'California', city => 'San Francisco' });
    $flat6->insert_network('2a00:1450::/32', { country_code => 'DE', state1 => 'Hessen', city => 'Frankfurt am Main' });
    write_tree($flat6, "$dir/flat-ipv6.mmdb");

    # Built on 2020-06-01, long enough ago for a bundled database to be old.
    my $country = tree('country ipvAll', 6, 1);
    $country->_set_build_epoch(1590969600);
    $country->insert_network('8.8.8.0/24', { country_code => 'US' });
    $country->insert_network('2a00:1450::/32', { country_code => 'DE' });
    write_tree($country, "$dir/flat-country.mmdb");
    exit 0;
}

if ($count eq 'varied') {
    write_varied($seed // 1);
    exit 0;
}

if ($count eq 'public') {
    # Public networks: a country each (two share one), an ASN each but 81.2.69.0/24, whose organisation has a comma.
    my @networks = (
        ['1.1.1.0/24',     names('Australia', '澳大利亚'),    13335, 'Cloudflare, Inc.'],
        ['8.8.8.0/24',     names('United States', '美国'),   15169, 'Google LLC'],
        ['9.9.9.0/24',     names('Switzerland', '瑞士'),     19281, 'Quad9'],
        ['81.2.69.0/24',   names('United Kingdom', '英国')],
        ['2606:4700::/32', names('United States', '美国'),   13335, 'Cloudflare, Inc.'],
        ['2a00:1450::/32', names('Ireland'),                 15169, 'Google LLC'],
    );
    for my $n (@networks) {
        $city->insert_network($n->[0], { country => $n->[1] });
        $asn->insert_network($n->[0], { autonomous_system_number => $n->[2], autonomous_system_organization => $n->[3] })
            if defined $n->[2];
    }
    write_tree($city, "$dir/public-city.mmdb");
    write_tree($asn, "$dir/public-asn.mmdb");
    exit 0;
}

die "COUNT must be between 1 and 32000\n" unless $count =~ /^\d+$/ && $count >= 1 && $count <= 32000;
# 4,000 places, each a record that 8 networks share on average, taken in no order: a lookup's record is seldom the
# one before.
srand(16);
my @countries = (['China', '中国'], ['Japan', '日本'], ['United States', '美国'], ['Germany', '德国'], ['Brazil', '巴西']);
my @places = map {
    my $country = $countries[$_ % @countries];
    [names(@$country), names("Region $_", "地区$_"), names("City $_", "城市$_")]
} 0 .. 3999;
for my $i (0 .. $count - 1) {
    my $network = sprintf('%d.%d.0.0/16', 1 + int($i / 256), $i % 256);
    my $place = $places[int(rand(@places))];
    $city->insert_network($network, { country => $place->[0], subdivisions => [$place->[1]], city => $place->[2] });
    $asn->insert_network($network,
        { autonomous_system_number => 64512 + $i % 1000, autonomous_system_organization => "Network $i" });
}
write_tree($city, "$dir/bench-city.mmdb");
write_tree($asn, "$dir/bench-asn.mmdb");

# Texts a name may be: plain, with CSV's and JSON's special characters, control characters (NUL among them), and
# characters of two, three and four bytes.
sub varied_text {
    my ($i) = @_;
    my @texts = (
        "Place $i", "São Paulo $i", "上海$i", "東京都 $i", "Zürich, \"ZH\" $i", "a,b,,c $i", "\"$i\"", "tab\there $i",
        "line\nbreak\r\n$i", "cr\ronly $i", "\x{0}nul\x{1}\x{1f}\x{7f} $i", "back\\slash \\u0041 $i", "🦀 crab $i",
        "e\x{301}\x{2028}\x{feff} $i", " padded $i ", "ключ;$i", "未知$i",
    );
    return $texts[int(rand(@texts))];
}

# Names in both languages, in English only, in Chinese only, an empty Chinese one beside English, an empty map, or
# none at all.
sub varied_names {
    my ($i) = @_;
    my $shape = int(rand(6));
    my %names;
    $names{en} = varied_text($i) if $shape == 0 || $shape == 1 || $shape == 3;
    $names{'zh-CN'} = varied_text($i) if $shape == 0 || $shape == 2;
    $names{'zh-CN'} = '' if $shape == 3;
    return $shape == 5 ? { geoname_id => $i } : { names => \%names, geoname_id => $i };
}

# Members nested `depth` deep.
sub nested {
    my ($depth) = @_;
    return [{ depth => $depth, time_zone => "Zone/$depth", ($depth > 0 ? (nested => nested($depth - 1)) : ()) }];
}

# A City record of a random shape: each of country, subdivisions (none, empty, one or two) and city may be missing,
# and other members come before and after them.
sub varied_record {
    my ($i) = @_;
    my %record;
    $record{location} = { latitude => rand(180) - 90, time_zone => 'Asia/Shanghai' } if rand() < 0.5;
    $record{nested} = nested(int(rand(6))) if rand() < 0.3;
    $record{country} = varied_names($i) if rand() < 0.85;
    $record{country}{is_in_european_union} = 1 if $record{country} && rand() < 0.2;
    my $subdivisions = int(rand(4));
    $record{subdivisions} = [map { varied_names($i) } 1 .. $subdivisions - 1] if $subdivisions > 0;
    $record{city} = varied_names($i) if rand() < 0.7;
    return \%record;
}

# A flat record: a code iso-codes knows (in either case), one it does not, or none; texts of every kind or none.
sub flat_record {
    my ($i) = @_;
    my @codes = ('CN', 'US', 'DE', 'jp', 'ZZ', 'X', '', undef);
    my $code = $codes[int(rand(@codes))];
    my %record;
    $record{country_code} = $code if defined $code;
    $record{state1} = varied_text($i) if rand() < 0.6;
    $record{city} = varied_text($i) if rand() < 0.7;
    $record{latitude} = rand(180) - 90 if rand() < 0.5;
    return \%record;
}

# A network's first address as bytes, for ordering networks of one family.
sub network_key {
    my ($network) = @_;
    my ($address) = split m{/}, $network;
    return $address =~ /:/ ? Socket::inet_pton(Socket::AF_INET6(), $address) : Socket::inet_aton($address);
}

sub write_varied {
    my ($seed) = @_;
    srand($seed);
    my $city6 = tree('Vantor-Test-City');
    my $city4 = tree('Vantor-Test-City', 4);
    my $asn6 = tree('Vantor-Test-ASN');
    my $flat4 = tree('Vantor-Test-Flat-City', 4, 1);
    my $flat6 = tree('Vantor-Test-Flat-City', 6, 1, 0);
    # A few records many networks share, the rest each a network's own.
    my @shared = map { varied_record(100000 + $_) } 1 .. 24;
    my @organisations = ('', 'Example, Inc.', "\"Quoted\" AS", "中国电信", "line\nbreak");
    my (@addresses, @flat);
    for my $i (1 .. 1200) {
        my ($network, @inside);
        if (rand() < 0.6) {
            my $length = 8 + int(rand(25));
            my $start = int(rand(2**32)) & ~((2**(32 - $length)) - 1);
            $start = 0x01000000 if $start < 0x01000000; # not 0.0.0.0/8
            my $size = 2**(32 - $length);
            my @bytes = map { ($start >> $_) & 255 } (24, 16, 8, 0);
            $network = join('.', @bytes) . "/$length";
            for my $offset (0, $size - 1, int(rand($size))) {
                my $ipv4 = join('.', map { (($start + $offset) >> $_) & 255 } (24, 16, 8, 0));
                my $hex = sprintf('%x:%x', ($start + $offset) >> 16, ($start + $offset) & 0xffff);
                # IPv4 in the IPv6 tree: as it is, mapped, and as 6to4.
                push @inside, $ipv4, "::ffff:$ipv4", "2002:${hex}::1";
            }
        } else {
            my $length = 16 * (2 + int(rand(7)));
            my @groups = map { int(rand(65536)) } 1 .. 8;
            $groups[0] = 0x2400 + int(rand(0x100));
            @groups[$_] = 0 for ($length / 16) .. 7;
            $network = join(':', map { sprintf('%x', $_) } @groups) . "/$length";
            my @last = @groups;
            $last[$_] = 0xffff for ($length / 16) .. 7;
            push @inside, join(':', map { sprintf('%x', $_) } @groups), join(':', map { sprintf('%X', $_) } @last),
                join(':', map { sprintf('%04x', $_) } @groups[0 .. 6], int(rand(65536)));
        }
        my $record = rand() < 0.3 ? $shared[int(rand(@shared))] : varied_record($i);
        $city6->insert_network($network, $record);
        $city4->insert_network($network, $record) if $network !~ /:/;
        push @flat, [$network, $i];
        if (rand() < 0.6) {
            my $organisation = $organisations[int(rand(@organisations))];
            $asn6->insert_network($network,
                { autonomous_system_number => $i, ($organisation ne '' || rand() < 0.5
                    ? (autonomous_system_organization => $organisation || varied_text($i)) : ()) });
        }
        push @addresses, @inside;
    }
    # Addresses in no network, or only in some.
    push @addresses, map { join('.', map { int(rand(256)) } 1 .. 4) } 1 .. 300;
    push @addresses, map { sprintf('2400:%x::%x', int(rand(256)), int(rand(65536))) } 1 .. 100;
    push @addresses, '::', '0.0.0.0', '255.255.255.255', 'ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff';
    # The flat records last, so the rest are what they were without them. The first record of each file, which a
    # reader's cache must tell from an empty slot, has a country.
    my %first;
    for my $flat (@flat) {
        my ($network, $i) = @$flat;
        my $record = flat_record($i);
        my $family = $network =~ /:/ ? 6 : 4;
        my $tree = $family == 6 ? $flat6 : $flat4;
        $tree->insert_network($network, $record);
        my $key = network_key($network);
        $first{$family} = [$network, $record] if !$first{$family} || $key lt network_key($first{$family}[0]);
    }
    for my $family (4, 6) {
        my ($network, $record) = @{ $first{$family} };
        ($family == 6 ? $flat6 : $flat4)->insert_network($network, { %$record, country_code => 'CN' });
    }
    write_tree($city6, "$dir/varied-city.mmdb");
    write_tree($city4, "$dir/varied-city-ipv4.mmdb");
    write_tree($asn6, "$dir/varied-asn.mmdb");
    write_tree($flat4, "$dir/varied-flat-ipv4.mmdb");
    write_tree($flat6, "$dir/varied-flat-ipv6.mmdb");
    open my $list, '>:raw', "$dir/varied-addresses" or die "$dir/varied-addresses: $!\n";
    print {$list} map { "$_\n" } @addresses;
    close $list or die "$dir/varied-addresses: $!\n";
}
