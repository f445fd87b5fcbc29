// DllImport entry points resolve only when called, and Mono cannot run under
// Wine here: so the binding's [DllImport("kestra")] names are compared, by
// reflection, with src/api/exports.txt and with the export table of each DLL;
// and none of them, nor any delegate, names a calling convention: the
// platform default is stdcall in 32-bit processes and cdecl elsewhere, as
// kestra.h's KESTRA_API and KESTRA_CALLBACK.
// Usage: EntryPoints.exe Kestra.dll exports.txt [objdump-p.txt...]
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;

static class EntryPoints
{
    static int failures;

    static void Compare(string what, ICollection<string> expected, ICollection<string> found)
    {
        var missing = expected.Except(found).OrderBy(n => n).ToList();
        var extra = found.Except(expected).OrderBy(n => n).ToList();
        if (missing.Count == 0 && extra.Count == 0)
        {
            Console.WriteLine("{0}: the binding's {1} entry points", what, expected.Count);
            return;
        }
        ++failures;
        Console.WriteLine("{0}: differs from the binding's entry points", what);
        foreach (string n in missing) Console.WriteLine("  not bound: " + n);
        foreach (string n in extra) Console.WriteLine("  not there: " + n);
    }

    // The names under "[Ordinal/Name Pointer] Table" up to the next blank line.
    static HashSet<string> DllExports(string dump)
    {
        var names = new HashSet<string>();
        bool inTable = false;
        foreach (string line in File.ReadAllLines(dump))
        {
            if (line.Contains("[Ordinal/Name Pointer] Table")) { inTable = true; continue; }
            if (!inTable) continue;
            if (line.Trim().Length == 0) break;
            names.Add(line.Substring(line.IndexOf(']') + 1).Trim());
        }
        return names;
    }

    static int Main(string[] args)
    {
        if (args.Length < 2)
        {
            Console.Error.WriteLine("usage: EntryPoints.exe Kestra.dll exports.txt [objdump-p.txt...]");
            return 2;
        }
        var bound = new HashSet<string>();
        const BindingFlags all = BindingFlags.Static | BindingFlags.Public | BindingFlags.NonPublic;
        foreach (Type type in Assembly.LoadFrom(Path.GetFullPath(args[0])).GetTypes())
        {
            // Delegates handed to the library take the platform's convention too.
            if (type.GetCustomAttribute<UnmanagedFunctionPointerAttribute>() != null)
            {
                ++failures;
                Console.WriteLine("{0} names a calling convention", type.Name);
            }
            foreach (MethodInfo method in type.GetMethods(all))
            {
                var import = method.GetCustomAttribute<DllImportAttribute>();
                if (import == null) continue;
                if (import.Value != "kestra")
                {
                    ++failures;
                    Console.WriteLine("{0}.{1} imports from {2}", type.Name, method.Name, import.Value);
                }
                if (import.CallingConvention != CallingConvention.Winapi)
                {
                    ++failures;
                    Console.WriteLine("{0}.{1} names a calling convention", type.Name, method.Name);
                }
                bound.Add(string.IsNullOrEmpty(import.EntryPoint) ? method.Name : import.EntryPoint);
            }
        }
        var listed = new HashSet<string>(File.ReadAllLines(args[1])
                                             .Select(l => l.Trim())
                                             .Where(l => l.Length > 0 && !l.StartsWith("#")));
        Compare(args[1], listed, bound);
        foreach (string dump in args.Skip(2)) Compare(dump, DllExports(dump), bound);
        return failures == 0 ? 0 : 1;
    }
}
