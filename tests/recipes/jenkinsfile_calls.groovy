// Prints the calls of a Jenkinsfile as JSON for recipes_test: every method call with the calls
// around it, its string arguments and its named arguments, and every assignment (the variables
// of environment blocks). A declarative pipeline is Groovy, so Groovy's own parser reads it;
// nothing of it runs. A file that does not compile ends this script with status 1.
import groovy.json.JsonOutput
import org.codehaus.groovy.ast.CodeVisitorSupport
import org.codehaus.groovy.ast.expr.*
import org.codehaus.groovy.control.CompilationUnit
import org.codehaus.groovy.control.Phases

class Calls extends CodeVisitorSupport {
  List path = []
  List found = []

  // The text of a string literal; a GString keeps its ${...} parts as written.
  static String text(Expression e) {
    if (e instanceof ConstantExpression && e.value instanceof String) return e.value
    if (!(e instanceof GStringExpression)) return null
    def out = new StringBuilder()
    e.strings.eachWithIndex { s, i ->
      out << s.value
      if (i < e.values.size()) out << '${' << e.values[i].text << '}'
    }
    return out.toString()
  }

  void visitMethodCallExpression(MethodCallExpression call) {
    def args = call.arguments instanceof TupleExpression ? call.arguments.expressions : [call.arguments]
    def strings = []
    def named = [:]
    args.each { a ->
      if (a instanceof MapExpression) {
        a.mapEntryExpressions.each { entry ->
          def value = text(entry.valueExpression)
          named[entry.keyExpression.text] = value != null ? value : entry.valueExpression.text
        }
      } else {
        def t = text(a)
        if (t != null) strings << t
      }
    }
    found << [kind: 'call', name: call.methodAsString, line: call.lineNumber, path: new ArrayList(path),
              strings: strings, named: named]
    path.add([name: call.methodAsString, line: call.lineNumber, arg: strings ? strings[0] : null])
    super.visitMethodCallExpression(call)
    path.remove(path.size() - 1)
  }

  void visitBinaryExpression(BinaryExpression e) {
    if (e.operation.text == '=') {
      def value = text(e.rightExpression)
      found << [kind: 'assign', name: e.leftExpression.text, line: e.lineNumber, path: new ArrayList(path),
                strings: value != null ? [value] : [], named: [:]]
    }
    super.visitBinaryExpression(e)
  }
}

def file = new File(args[0])
new GroovyShell().parse(file)  // the whole compile, as Jenkins would start it

def unit = new CompilationUnit()
unit.addSource(file)
unit.compile(Phases.CONVERSION)
def calls = new Calls()
unit.AST.modules.each { module ->
  module.statementBlock.visit(calls)
  module.methods.each { it.code?.visit(calls) }
}
println JsonOutput.toJson(calls.found)
