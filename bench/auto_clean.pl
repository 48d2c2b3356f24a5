#!/usr/bin/perl -p
# Automatic mode as a Perl one-liner would do it, for bench/compare:
#   perl -pi bench/auto_clean.pl FILE
# Numbers are found by a regular expression (decimal forms only: hexadecimal
# forms and a few odd token boundaries that strtod draws differently are
# where it can differ from mapclean).
use POSIX qw(floor);
sub fix {
    my $t = shift;
    return abs($t) < 1e-6 ? "0" : $t if $t =~ /[eE]/;
    return $t unless $t =~ /^([-+]?\d*)\.(\d+)$/;
    my ($int, $frac) = ($1, $2);
    my $z = index($frac, "000", 1);
    if ($z >= 0) {
        my $kept = substr($frac, 0, $z);
        return $kept =~ /[1-9]/ ? "$int.$kept" : ($int =~ /\d/ ? $int : $int . "0");
    }
    my $n = index($frac, "999");
    return $t if $n < 0;
    my $f = 10**$n;
    my $r = ($t < 0 ? -1 : 1) * floor(abs($t) * $f + 0.5) / $f;
    my $s = sprintf("%.*f", $n, $r);
    $s =~ s/0+$// if $s =~ /\./;
    $s =~ s/\.$//;
    return $s;
}
s/([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)/fix($1)/ge;
