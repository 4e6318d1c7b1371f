#!/usr/bin/perl
# The operator's table of the server's events (doc/events.md), read from the
# code: every report() of the time service and every SendEvent() and
# configuration event of the server, with its type and its text as
# published (faults and exceptions begin with their source position; "…"
# stands for what is filled in at run time). The columns "When" and "What
# the operator does" are written by hand in doc/events.md and kept.
#
#   events-table.pl [ROOT]            prints the table
#   events-table.pl --update [ROOT]   rewrites doc/events.md, keeping the notes
#   events-table.pl --check [ROOT]    exit 1 when doc/events.md differs from the
#                                     code, or an event has no notes
use strict;
use warnings;
use utf8;
use open qw(:std :encoding(UTF-8));

my $mode = (@ARGV && $ARGV[0] =~ /^--(update|check)$/) ? $1 : 'print';
shift @ARGV if $mode ne 'print';
my $root = $ARGV[0] // '.';
my $table = "$root/doc/events.md";
my @sources = ("$root/src/Chronavel/TimeServiceController.cpp", "$root/src/Chronavel/Chronavel.cpp");
my @headers = ("$root/src/Chronavel/TimeServiceController.h", "$root/src/Chronavel/Chronavel.h");
my %typeName = (eDebug => 'debug', eStatus => 'status', eFault => 'fault', eException => 'exception',
                eCritical => 'critical');

sub slurp { my ($f) = @_; open(my $h, '<', $f) or die "events-table: $f: $!\n"; local $/; return <$h>; }

# Named numbers (enum values) and texts (string constants) of the sources.
# A source's own constants come before the headers' ones.
my (%number, %shared, %constant);
sub constants {
    my ($code, $into) = @_;
    $into->{$1} = $2 while $code =~ /\b(k\w+)(?:\[\])?\s*=\s*"((?:[^"\\]|\\.)*)"\s*;/g;
}
for my $file (@sources, @headers) {
    my $code = slurp($file);
    $number{$1} = $2 while $code =~ /\b(k\w+)\s*=\s*(\d+)\s*[,}]/g;
}
constants(slurp($_), \%shared) for @headers;

# The text of a balanced (...) starting at $pos (just after the opening one).
sub balanced {
    my ($code, $pos) = @_;
    my $depth = 1;
    my $start = $pos;
    while ($depth > 0 && $pos < length $code) {
        my $c = substr($code, $pos, 1);
        if ($c eq '"' || $c eq "'") {
            my $end = $pos + 1;
            $end++ while substr($code, $end, 1) ne $c && ($end += (substr($code, $end, 1) eq '\\')) < length $code;
            $pos = $end;
        } elsif ($c eq '(') {
            $depth++;
        } elsif ($c eq ')') {
            $depth--;
        }
        $pos++;
    }
    return substr($code, $start, $pos - $start - 1);
}

# Splits at top-level separators (a comma, or a plus).
sub split_top {
    my ($text, $sep) = @_;
    my (@parts, $depth, $quote);
    my $current = '';
    $depth = 0;
    for (my $i = 0; $i < length $text; $i++) {
        my $c = substr($text, $i, 1);
        if ($quote) {
            $current .= $c;
            if ($c eq '\\') { $current .= substr($text, ++$i, 1); next; }
            $quote = undef if $c eq $quote;
            next;
        }
        if ($c eq '"' || $c eq "'") { $quote = $c; }
        elsif ($c eq '(') { $depth++; }
        elsif ($c eq ')') { $depth--; }
        if ($depth == 0 && $c eq $sep) { push @parts, $current; $current = ''; next; }
        $current .= $c;
    }
    push @parts, $current;
    s/^\s+|\s+$//gs for @parts;
    return @parts;
}

# A message expression as the operator reads it.
sub render {
    my ($expr) = @_;
    $expr =~ s/^\s+|\s+$//gs;
    $expr =~ s/static_cast<[^>]*>\(/cast(/g;
    my @parts;
    if ($expr =~ /^text\((.*)\)$/s) {
        @parts = split_top($1, ',');
    } else {
        @parts = split_top($expr, '+');
    }
    my $out = '';
    for my $part (@parts) {
        if ($part =~ /^("(?:[^"\\]|\\.)*"\s*)+$/s) {
            while ($part =~ /"((?:[^"\\]|\\.)*)"/g) { (my $s = $1) =~ s/\\(.)/$1/g; $out .= $s; }
        } elsif ($part eq q('"')) {
            $out .= '"';
        } elsif ($part =~ /^(?:name|m_serverName|serverName)$/) {
            $out .= 'Chronavel';
        } elsif ($part =~ /^(?:\w+::)*(k\w+)$/ && exists $constant{$1}) {
            $out .= $constant{$1};
        } elsif ($part =~ /^(?:cast|std::to_string)\((k\w+)\)$/ && exists $number{$1}) {
            $out .= $number{$1};
        } elsif ($out !~ /…$/) {
            $out .= '…';
        }
    }
    return $out;
}

my @events;
for my $file (@sources) {
    my $code = slurp($file);
    %constant = %shared;
    constants($code, \%constant);
    while ($code =~ /\b(report|SendEvent)\s*\(/g) {
        my ($call, $at) = ($1, pos $code);
        my @args = split_top(balanced($code, $at), ',');
        my ($file_arg, $key, $type, $message) = $call eq 'report' ? (undef, @args[0 .. 2]) : @args[0 .. 3];
        next unless defined $type && $type =~ /EventTypes::(e\w+)/ && $typeName{$1};
        $type = $typeName{$1};
        # A message kept in a variable: its nearest definition before the call.
        if ($message =~ /^\w+$/ && $message !~ /^(?:name|m_serverName)$/) {
            my $before = substr($code, 0, $at);
            my @defs = $before =~ /std::string\s+\Q$message\E\s*=\s*(.*?);/gs;
            $message = $defs[-1] if @defs;
        }
        # Published with the base name of the source name the call gives.
        my $base = $file_arg && $file_arg ne 'kSourceFile' ? $file : $constant{kSourceFile};
        $base =~ s{.*/}{};
        my $text = render($message);
        if ($type eq 'fault' || $type eq 'exception') {
            $text = "$base\[" . ($number{$key} // '…') . "]:$text";
        }
        push @events, { id => ($key eq '__LINE__' ? $text : $key), type => $type, text => $text };
    }
}
# The two configuration events, published first and every 300 s.
{
    my $code = slurp("$root/src/Chronavel/Chronavel.cpp");
    %constant = %shared;
    constants($code, \%constant);
    my ($identity) = $code =~ /ChronavelProduct::identity\([^)]*\)\s*\{\s*return\s+(.*?);/s;
    my ($product) = $code =~ /Chronavel::productText\(\)\s*const\s*\{\s*return\s+(.*?);/s;
    die "events-table: the configuration events' texts were not found\n" unless $identity && $product;
    (my $identityText = render($identity)) =~ s/…/<build time>/;
    unshift @events, { id => 'identity', type => 'status', text => $identityText },
                     { id => 'product', type => 'status', text => render($product) };
}

# The hand-written columns of the committed table, by event.
my %notes;
my $committed = -e $table ? slurp($table) : '';
my ($head) = $committed =~ /\A(.*?)^\| Event \|/ms;
$head //= "# Events of the Chronavel server\n\n";
for my $line (split /\n/, $committed) {
    next unless $line =~ /^\| `?([^|]*?)`? \| /;
    my @cells = split / \| /, substr($line, 2, -2);
    next if @cells != 5 || $cells[0] eq 'Event' || $cells[0] =~ /^-+$/;
    (my $id = $cells[0]) =~ s/^`|`$//g;
    $id = $cells[2] =~ s/^`|`$//gr if $id eq '—';
    $notes{$id} = [@cells[3, 4]];
}

my $out = $head . "| Event | Type | Text | When | What the operator does |\n|---|---|---|---|---|\n";
my @missing;
for my $e (@events) {
    my $n = delete $notes{$e->{id}} // do { push @missing, $e->{id}; ['TODO', 'TODO'] };
    push @missing, $e->{id} if grep { $_ eq 'TODO' } @$n;
    (my $text = $e->{text}) =~ s/\|/\\|/g;
    my $id = $e->{id} eq $e->{text} ? '—' : "`$e->{id}`";
    $out .= "| $id | $e->{type} | `$text` | $n->[0] | $n->[1] |\n";
}

if ($mode eq 'print') {
    print $out;
} elsif ($mode eq 'update') {
    open(my $h, '>', $table) or die "events-table: $table: $!\n";
    print $h $out;
} else {
    my $status = 0;
    if ($out ne $committed) {
        print STDERR "events-table: $table differs from the code's events (scripts/events-table.pl --update):\n";
        my %old = map { $_ => 1 } split /\n/, $committed;
        print STDERR "  + $_\n" for grep { !$old{$_} } split /\n/, $out;
        $status = 1;
    }
    for (@missing) { print STDERR "events-table: no notes for the event $_\n"; $status = 1; }
    for (sort keys %notes) { print STDERR "events-table: notes for an event the code no longer has: $_\n"; $status = 1; }
    exit $status;
}
