#!/usr/bin/perl
# Writes a small MaxMind database for the location tests:
#   make-mmdb.pl OUT.mmdb TYPE EPOCH
# TYPE becomes the database_type ("Test-City" or "Test-Country"); a Country type leaves
# out the city and subdivision of each range, as such databases do. An ASN type
# ("Test-ASN") holds autonomous systems instead of places, as DB-IP's and GeoLite2's do.
use strict;
use warnings;
use utf8;
use MaxMind::DB::Writer::Tree;

my ($out, $type, $epoch) = @ARGV;
die "usage: make-mmdb.pl OUT TYPE EPOCH\n" unless defined $epoch;
my $city = $type =~ /city/i;

my %types = (
    country            => 'map',
    registered_country => 'map',
    city               => 'map',
    subdivisions       => [ 'array', 'map' ],
    names              => 'map',
    iso_code           => 'utf8_string',
    en                 => 'utf8_string',
    'zh-CN'            => 'utf8_string',
    autonomous_system_number       => 'uint32',
    autonomous_system_organization => 'utf8_string',
);

my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version            => 6,
    record_size           => 24,
    database_type         => $type,
    languages             => [ 'en', 'zh-CN' ],
    description           => { en => 'Quillberry test ranges' },
    map_key_type_callback => sub { $types{ $_[0] } },
    # The test ranges include documentation blocks, which a real database leaves out.
    remove_reserved_networks => 0,
    alias_ipv6_to_ipv4       => 1,
);
# The writer takes the build time from the clock; the tests order databases by it.
$tree->_set_build_epoch($epoch);

sub record {
    my (%r) = @_;
    my %rec = (country => { iso_code => $r{code}, names => $r{country} });
    if ($city) {
        $rec{city} = { names => $r{city} } if $r{city};
        $rec{subdivisions} = [ { names => $r{region} } ] if $r{region};
    }
    return \%rec;
}

if ($type =~ /asn/i) {
    $tree->insert_network('203.0.113.0/24',
        { autonomous_system_number => 64496, autonomous_system_organization => 'Example Transit' });
    $tree->insert_network('127.0.0.0/8',
        { autonomous_system_number => 64511, autonomous_system_organization => 'Loopback Lab' });
    $tree->insert_network('2001:db8:1::/48', { autonomous_system_number => 4200000000 });
    open my $fh, '>:raw', $out or die "cannot write $out: $!\n";
    $tree->write_tree($fh);
    close $fh or die "cannot write $out: $!\n";
    exit 0;
}

# Both languages.
$tree->insert_network('198.51.100.0/24',
    record(code => 'DE', country => { en => 'Germany', 'zh-CN' => '德国' },
           region => { en => 'Hesse', 'zh-CN' => '黑森州' }, city => { en => 'Frankfurt', 'zh-CN' => '法兰克福' }));
# English only: a Chinese interface falls back to it.
$tree->insert_network('203.0.113.0/24',
    record(code => 'NZ', country => { en => 'New Zealand' }, city => { en => 'Wellington' }));
# IPv6.
$tree->insert_network('2001:db8:1::/48',
    record(code => 'JP', country => { en => 'Japan', 'zh-CN' => '日本' },
           city => { en => 'Tokyo', 'zh-CN' => '东京' }));
# Only the registered country is known.
$tree->insert_network('192.0.2.0/24', { registered_country => { iso_code => 'FR', names => { en => 'France' } } });
# A range that 8.8.8.8 falls in, so that the chain's order shows against the system's database.
$tree->insert_network('8.8.8.0/24',
    record(code => 'CH', country => { en => 'Switzerland', 'zh-CN' => '瑞士' }));

open my $fh, '>:raw', $out or die "cannot write $out: $!\n";
$tree->write_tree($fh);
close $fh or die "cannot write $out: $!\n";
